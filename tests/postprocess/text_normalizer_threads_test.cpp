// The normaliser and the guard chain from several threads at once: the rule tables are
// shared statics and the matchers per-thread, so every thread must get the single-thread
// result.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "context/input_context.h"
#include "postprocess/refine_profile.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {
namespace {

namespace tn = TextNormalizer;

TEST(TextNormalizerThreads, EveryThreadGetsTheSingleThreadResult) {
  const std::vector<std::string> inputs{
      "嗯我想问一下，呃这个方案啊，能不能快一点？",
      "我想把这个会订到八点，不对，是九点",
      "流程如下，先录音，然后识别，再修正，最后粘贴",
      "先说背景，上周有三个客户反馈粘贴失败。风险是下周发版可能赶不上，方案是先修粘贴再发版。",
      "我第一次来北京，第二次是去年。第一，先把识别做准；第二，再把延迟降下来。",
      "用 codex 写一个demo给大家看，deep seek API 的 raw fall back 也要",
      "这个需求是合理的，但是我们不能为了好看去改用户原意。所以更好的方式是只做换行，让同一段话里不同的意思自然分开。",
  };
  InputContext context;
  context.appName = "WeChat";
  context.visibleText = "1. 做 Deepgram Nova-3 multilingual 接入\n2. 支持上下文注入";
  const RefineProfile profile = RefineProfile::named();
  struct Outputs {
    std::string basic, final, chain;
  };
  auto compute = [&](const std::string& input) {
    return Outputs{tn::normalizeInput(input), tn::normalizeFinal(input), localPipeline(input, context, profile)};
  };
  std::vector<Outputs> expected;
  for (const std::string& input : inputs) expected.push_back(compute(input));

  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        // Each thread walks the inputs from its own offset, so different rules run at once.
        for (std::size_t k = 0; k < inputs.size(); ++k) {
          const std::size_t i = (k + static_cast<std::size_t>(t)) % inputs.size();
          const Outputs got = compute(inputs[i]);
          if (got.basic != expected[i].basic || got.final != expected[i].final || got.chain != expected[i].chain) {
            ++mismatches[t];
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace sorvane
