#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/json.h"
#include "core/regex.h"
#include "core/unicode_text.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

TEST(UnicodeText, GraphemesCountUserPerceivedCharacters) {
  EXPECT_EQ(text::graphemeCount(""), 0u);
  EXPECT_EQ(text::graphemeCount("abc"), 3u);
  EXPECT_EQ(text::graphemeCount("你好，world"), 8u);
  EXPECT_EQ(text::graphemeCount("\r\n"), 1u);
  EXPECT_EQ(text::graphemeCount("👍🏽e\u0301"), 2u);  // emoji with modifier, e + combining accent
  EXPECT_EQ(text::graphemePrefix("你好世界", 2), "你好");
  EXPECT_EQ(text::graphemeSuffix("你好世界", 3), "好世界");
  EXPECT_EQ(text::graphemeSuffix("你好", 5), "你好");
  EXPECT_EQ(text::graphemeSlice("a👍🏽bc", 1, 2), "👍🏽b");
  EXPECT_EQ(text::utf16Length("a😀"), 3u);
  EXPECT_TRUE(text::graphemeClusters("").empty());
  EXPECT_EQ(text::graphemeClusters("a👍🏽e\u0301\r\n林"),
            (std::vector<std::string>{"a", "👍🏽", "e\u0301", "\r\n", "林"}));
}

TEST(UnicodeText, TrimCaseAndLiterals) {
  EXPECT_EQ(text::trim(" \t\n\xE3\x80\x80你好 \r\n"), "你好");
  EXPECT_EQ(text::trimWithCharacters("。好的？!", U"。.!！?？"), "好的");
  EXPECT_TRUE(text::isBlank(" \n "));
  EXPECT_EQ(text::toLower("DeepSeek ÄPI"), "deepseek äpi");
  EXPECT_TRUE(text::containsCaseInsensitive("Use CODEX now", "codex"));
  EXPECT_EQ(text::replaceLiteral("a.b.c", ".", ".."), "a..b..c");
  EXPECT_EQ(text::replaceLiteralCaseInsensitive("Deep Seek and deep seek", "deep seek", "DeepSeek"),
            "DeepSeek and DeepSeek");
  // The replacement is literal: no template expansion.
  EXPECT_EQ(text::replaceLiteralCaseInsensitive("x", "X", "$1\\"), "$1\\");
  EXPECT_EQ(text::sanitizeUtf8("ok\xff"), "ok\xEF\xBF\xBD");
}

TEST(Regex, IcuSemanticsAndTemplates) {
  struct Case {
    const char* pattern;
    const char* replacement;
    const char* input;
    const char* expected;
  };
  const Case cases[] = {
      {"([\\p{Han}])([A-Za-z]+)", "$1 $2", "用Codex写", "用 Codex写"},
      {"(?<=[，。])嗯+", "", "好，嗯嗯这样。嗯", "好，这样。"},
      {"(?i)\\bdeep\\s*seek\\b", "DeepSeek", "DEEP seek api", "DeepSeek api"},
      {"(?m)^\\s*-", "•", "a\n - b\n-c", "a\n• b\n•c"},
      {"零点\\s*(\\d+(?:\\.\\d+)*)", "0.$1", "零点 5 秒", "0.5 秒"},
      {"(a)|(b)", "[$2]", "ab", "[][b]"},  // a group that did not take part is empty
      {"[", "x", "unchanged [", "unchanged ["},
  };
  testing::LogCapture log;
  for (const Case& c : cases) {
    EXPECT_EQ(regexReplaceAll(c.input, c.pattern, c.replacement), c.expected) << c.pattern;
  }
  EXPECT_EQ(log.count("failed to compile"), 1u);
  regexReplaceAll("again", "[", "x");
  EXPECT_EQ(log.count("failed to compile"), 1u);  // logged once per pattern
}

TEST(Regex, MatchesAndCounts) {
  Regex regex("第\\s*([一二三])");
  EXPECT_EQ(regex.countMatches("第一，第 二，第四"), 2u);
  auto matches = regex.allMatches("a第一b第三");
  ASSERT_EQ(matches.size(), 2u);
  EXPECT_EQ(matches[1].groups[1], "三");
  EXPECT_EQ(matches[1].start, 4u);  // UTF-16 offsets
  EXPECT_TRUE(Regex("^\\d+$").fullMatch("123"));
  EXPECT_FALSE(Regex("^\\d+$").fullMatch("123a"));
}

TEST(Regex, RuleTableAppliesRowsInOrder) {
  static const ReplaceRule kRules[] = {{"ab", "b"}, {"bb", "c"}, {"c$", "d"}};
  RuleTable table(kRules);
  EXPECT_EQ(table.apply("abb"), "d");  // abb → bb → c → d: each row sees the previous output
  EXPECT_EQ(table.apply("xyz"), "xyz");
}

TEST(Regex, CatastrophicPatternHitsTimeLimitAndLeavesInputUnchanged) {
  testing::LogCapture log;
  const std::string input = std::string(40, 'a') + "!";
  EXPECT_EQ(regexReplaceAll(input, "^(a+)+$", "x"), input);
  EXPECT_TRUE(log.contains("match time limit"));
}

TEST(Json, LineIsSortedCompactAndEscapesSlashes) {
  Json value = {{"z", 1}, {"a", {{"y", "a/b"}, {"b", 2.5}}}, {"m", "中文"}, {"t", true}};
  EXPECT_EQ(toJsonLine(value), R"({"a":{"b":2.5,"y":"a\/b"},"m":"中文","t":true,"z":1})");
  Json bad = {{"k", std::string("\xff")}};
  EXPECT_EQ(toJsonLine(bad), "{\"k\":\"\xEF\xBF\xBD\"}");
}

TEST(Json, ParsingNeverThrows) {
  EXPECT_FALSE(parseJson("{oops").has_value());
  EXPECT_FALSE(parseJsonObject("[1]").has_value());
  auto object = parseJsonObject(R"({"text":"好的","n":3,"r":1.5,"b":false})");
  ASSERT_TRUE(object.has_value());
  EXPECT_EQ(jsonString(*object, "text"), "好的");
  EXPECT_EQ(jsonString(*object, "n"), std::nullopt);
  EXPECT_EQ(jsonInteger(*object, "n"), 3);
  EXPECT_EQ(jsonInteger(*object, "r"), std::nullopt);
  EXPECT_EQ(jsonNumber(*object, "r"), 1.5);
  EXPECT_EQ(jsonBool(*object, "b"), false);
  Json out = Json::object();
  setIfPresent(out, "x", std::optional<int>());
  setIfPresent(out, "y", std::optional<int>(4));
  EXPECT_EQ(toJsonLine(out), R"({"y":4})");
}

}  // namespace
}  // namespace sorvane

namespace sorvane {
namespace {

// Guards built per call (for a token the user said) must not pile up cached matchers.
TEST(Regex, ShortLivedPatternsDoNotAccumulate) {
  for (int i = 0; i < 5000; ++i) {
    Regex once("token" + std::to_string(i) + "[^。]{0,18}不对");
    EXPECT_TRUE(once.search("token" + std::to_string(i) + "，不对"));
  }
  EXPECT_LT(Regex::cachedMatchersOnThisThread(), 1000u);
  Regex original("abc");
  EXPECT_TRUE(original.search("xabc"));
  const std::size_t cached = Regex::cachedMatchersOnThisThread();
  const Regex copy = original;  // copies share their matcher entry
  EXPECT_TRUE(copy.search("xabc"));
  EXPECT_EQ(Regex::cachedMatchersOnThisThread(), cached);
}

}  // namespace
}  // namespace sorvane

namespace sorvane {
namespace {

// Counting takes a shortcut for text whose every code point is a cluster of its own; the
// result must match the break iterator on both sides of that line.
TEST(UnicodeText, ShortcutAgreesWithBreakIterator) {
  struct Case {
    const char* text;
    std::size_t count;
  };
  const Case cases[] = {
      {"我们要做到三点：准确、快速、稳定。", 17},
      {"ＡＢＣ１２３，ok\tyes\n", 14},
      {"\r\n\r\n", 2},               // CR LF is one cluster
      {"e\u0301好", 2},              // combining accent joins the e
      {"〇\u302A字", 2},             // CJK tone mark U+302A extends its base
      {"ｶﾞ", 1},                      // half-width voiced mark extends
      {"😀好", 2},                    // outside the BMP
      {"🇨🇳🇯🇵", 2},                  // regional indicator pairs
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text::graphemeCount(c.text), c.count) << c.text;
    EXPECT_EQ(text::graphemeCount(text::toUnicode(c.text)), c.count) << c.text;
    EXPECT_EQ(text::graphemeSuffix(c.text, c.count), c.text) << c.text;
    EXPECT_EQ(text::graphemePrefix(c.text, 1) + text::graphemeSuffix(c.text, c.count - 1), c.text) << c.text;
    const std::vector<std::string> clusters = text::graphemeClusters(c.text);
    EXPECT_EQ(clusters.size(), c.count) << c.text;
    EXPECT_EQ(text::join(clusters, ""), c.text) << c.text;
  }
  EXPECT_EQ(text::graphemePrefix("〇\u302A字", 1), "〇\u302A");
}

}  // namespace
}  // namespace sorvane
