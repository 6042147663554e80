// The prefiltered rule table must give exactly what running every row gives.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/guarded_rule_table.h"

namespace sorvane {
namespace {

std::string literalOf(std::string_view pattern, unsigned flags = Regex::kNone) {
  return text::toUtf8(GuardedRuleTable::requiredLiteral(pattern, flags));
}

TEST(GuardedRuleTable, DerivesTheTextEveryMatchContains) {
  struct Case {
    const char* pattern;
    const char* literal;
  };
  for (const Case& c : std::vector<Case>{
           {R"((?i)\bD\s*C\s*API\b)", "API"},
           {R"(零点\s*(\d+(?:\.\d+)*))", "零点"},
           {"。。+", "。。"},
           {"ab?c", "a"},
           {"abc*", "ab"},
           {"ab{0,3}cd", "cd"},
           {R"(([，,;；]\s*)?2\. )", "2. "},
           {R"(写(\d+\.\d+))", "写"},
           {"^医疗随访场景里", "医疗随访场景里"},
           {"a|bcd", ""},
           {R"((?:嗯+|呃+)(?=[\p{Han}]))", ""},
           {R"(\p{Han}中文\x{4E00})", "中文"},
           {R"([^\n：:]\n1\. )", "1. "},  // an escaped \n is not taken as plain text
           {R"(\Qabc\E)", ""},
           {"abc(?i)def", ""},
           // Every escape form of a code point, a control or a property is one element,
           // never plain text: the digits or letters after it stay out of the literal.
           {R"(\x41\x42字字)", "字字"},
           {R"(\u0041BC)", "BC"},
           {R"(\U0001F600好)", "好"},
           {R"(\0101ab)", "ab"},
           {R"(\cAxy)", "xy"},
           {R"(\pLabc)", "abc"},
           {R"(\N{DIGIT ONE}23)", "23"},
           {R"(\k<n>abc)", "abc"},
           // Digits after a back reference may belong to its number.
           {R"((\w)\1abc)", ""},
       }) {
    EXPECT_EQ(literalOf(c.pattern), c.literal) << c.pattern;
  }
  EXPECT_EQ(literalOf("a.b|c", Regex::kLiteral), "a.b|c");
}

// Random texts over the characters the rows look for: the guarded table and the plain
// table agree on every one.
TEST(GuardedRuleTable, SameResultAsRunningEveryRow) {
  const std::array<ReplaceRule, 10> rules{{
      {R"((?i)\bdeep\s*seek\b)", "DeepSeek"},
      {"。。+", "。"},
      {R"(([，,;；]\s*)?2\. )", "\n2. "},
      {R"((\d+)\s*块)", "$1块"},
      {"ab?c", "X"},
      {R"((?i)ÉTÉ)", "summer"},
      {"^第一", "1. "},
      {"seekDeep", "loop"},
      {R"(d\s*e+p)", "deep"},
      {"ss", "ß"},
  }};
  const RuleTable plain(rules);
  const GuardedRuleTable guarded(rules);
  const std::vector<std::string> alphabet{"deep", "seek", "Deep", "SEEK", " ", "。", "，", ";", "2", ". ", "块",
                                          "3",    "a",    "b",    "c",    "été", "É", "第一", "e", "d", "ß", "s"};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) input += alphabet[random() % alphabet.size()];
    EXPECT_EQ(guarded.apply(input), plain.apply(input)) << input;
  }
}

// A row spelt with escapes still runs on the text it matches.
TEST(GuardedRuleTable, EscapedRowsStillRun) {
  const std::array<ReplaceRule, 4> rules{{
      {R"(\x41\x{42}C)", "[abc]"},
      {R"(\u4E00二)", "[12]"},
      {R"(\0141\cIb)", "[a-tab-b]"},
      {R"((\w)\1x)", "[double]"},
  }};
  const GuardedRuleTable table(rules);
  EXPECT_EQ(table.apply(std::string_view("ABC 一二 a\tb zzx")), "[abc] [12] [a-tab-b] [double]");
}

TEST(GuardedRuleTable, ExplicitAlternativesGateTheRow) {
  const std::array<GuardedRule, 1> rules{{{R"((?:嗯+|呃+)(?=\p{Han}))", "", "嗯|呃"}}};
  const GuardedRuleTable table(rules);
  EXPECT_EQ(table.apply(std::string_view("嗯我呃你")), "我你");
  EXPECT_EQ(table.apply(std::string_view("我你")), "我你");
}

}  // namespace
}  // namespace sorvane
