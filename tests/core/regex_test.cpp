// Regex under its match time limit and from several threads at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/regex.h"
#include "core/unicode_text.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

std::string repeated(std::string_view unit, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// "^\s*x" in multi-line mode retries its whitespace run from every line start, so many
// blank lines cost quadratic time and run into the limit after the first match.
TEST(Regex, TimeLimitKeepsTheMatchesFoundAndLogsThePatternOnce) {
  testing::LogCapture log;
  const Regex costly("(?m)^\\s*x(\\d)");
  const std::string text = "x1\n" + repeated("\n ", 20000);
  const std::vector<RegexMatch> matches = costly.allMatches(text);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0].groups[1], "1");
  EXPECT_EQ(costly.countMatches(text), 1u);
  // A replacement cannot keep half its work: the text stays as it was.
  EXPECT_EQ(costly.replaceAll(text, "y"), text);
  EXPECT_EQ(log.count("hit match time limit"), 1u);
  EXPECT_TRUE(log.contains("pattern=(?m)^\\s*x(\\d)"));
}

// One compiled Regex (static rule tables) and the process-wide pattern cache used from
// several threads at once: every thread gets the single-thread answers.
TEST(Regex, SharedPatternsGiveTheSameAnswersOnEveryThread) {
  static const Regex spaced(R"((\p{Han})\s+(\p{Han}))");
  const std::vector<std::string> inputs{"我 们", "今天  下午 三点", "a b", "", "第一 第二 第三 ok 😀 好"};
  std::vector<std::string> expected;
  for (const std::string& input : inputs) expected.push_back(spaced.replaceAll(input, "$1$2"));

  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 300; ++round) {
        for (std::size_t i = 0; i < inputs.size(); ++i) {
          if (spaced.replaceAll(inputs[i], "$1$2") != expected[i]) ++mismatches[t];
          if (spaced.search(inputs[i]) != (expected[i] != inputs[i])) ++mismatches[t];
          // A pattern per round and thread: the cache grows and is swept concurrently.
          const Regex& cached = cachedRegex("t" + std::to_string(t) + "r" + std::to_string(round % 7));
          if (!cached.valid() || cached.search("x")) ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace sorvane
