#include "learning/term_learning.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "learning/mirla_feedback_analysis.h"

namespace sorvane {
namespace {

std::string repeat(std::string_view unit, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += unit;
  return out;
}

TEST(TermLearning, CleanTermAndUsefulness) {
  struct Case {
    std::string input;
    std::string cleaned;
    bool useful;
  };
  const std::vector<Case> cases{
      {"  “Claude”，", "Claude", true},
      {"【Qwen3-ASR】", "Qwen3-ASR", true},
      {"这个 DeepSeek", "DeepSeek", true},
      {"一个林晓", "林晓", true},
      {"12345", "12345", false},
      {"Processing", "Processing", false},
      {"processing", "processing", false},
      {"就是", "就是", false},
      {"x", "x", false},
      {repeat("汉", 18), repeat("汉", 18), true},
      {repeat("汉", 19), repeat("汉", 19), false},
      {repeat("汉", 18) + "A", repeat("汉", 18) + "A", true},
      {repeat("a", 40), repeat("a", 40), true},
      {repeat("a", 41), repeat("a", 41), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cleanTerm(c.input), c.cleaned) << c.input;
    EXPECT_EQ(isUsefulTerm(cleanTerm(c.input)), c.useful) << c.input;
  }
  const std::vector<std::string> many{"Codex", "codex", "。", "Claude", "a1", "b2", "c3", "d4", "e5", "f6", "g7", "h8"};
  EXPECT_EQ(cleanDictionaryTerms(many),
            (std::vector<std::string>{"Codex", "Claude", "a1", "b2", "c3", "d4", "e5", "f6"}));
}

TEST(TermLearning, ChangedSegment) {
  EXPECT_EQ(changedSegment("今天是去开会", "今天是要去开会"), (SegmentChange{"", "要"}));
  // A three-character prefix and suffix around one character replaced by two.
  EXPECT_EQ(changedSegment("你觉得A好吗", "你觉得BC好吗"), (SegmentChange{"A", "BC"}));
  EXPECT_EQ(changedSegment("你觉得 Cloud 好", "你觉得 Claude 好"), (SegmentChange{"oud", "aude"}));
  // The suffix never overlaps the prefix: "aa" → "aaa" is one inserted "a".
  EXPECT_EQ(changedSegment("aa", "aaa"), (SegmentChange{"", "a"}));
  EXPECT_EQ(changedSegment("same", "same"), (SegmentChange{"", ""}));
  // Clipping to 60 + "..." + 57 beyond 120 characters; the unclipped form keeps it all.
  const std::string inserted = repeat("甲", 60) + repeat("乙", 1) + repeat("丙", 60);
  EXPECT_EQ(changedSegment("开头", "开" + inserted + "头").newSegment, repeat("甲", 60) + "..." + repeat("丙", 57));
  EXPECT_EQ(changedSegmentUnclipped("开头", "开" + inserted + "头").newSegment, inserted);
  EXPECT_EQ(changedSegment("开头", "开" + repeat("乙", 120) + "头").newSegment, repeat("乙", 120));
  EXPECT_TRUE(isInsertionOnly({" ", "新增"}));
  EXPECT_FALSE(isInsertionOnly({"旧", "新"}));
  EXPECT_FALSE(isInsertionOnly({"", " "}));
}

TEST(TermLearning, EditReasonTakesTheFirstMatchingRule) {
  struct Case {
    std::string oldSegment;
    std::string newSegment;
    std::string raw;
    std::string_view expectedStart;
  };
  const std::vector<Case> cases{
      {"", "补充", "", "用户在 Mirla 输出后追加了内容"},
      {"多余", "", "", "用户删除了 Mirla 输出中的片段"},
      {"Cloud", "Claude", "", "用户修正了英文/产品/技术词"},
      {"八点", "九点", "", "用户修正了数字、时间或数量"},
      {"3", "三", "", "用户修正了数字、时间或数量"},
      {"周三", "周五", "周三不对改成周五", "原始语音含自我纠错信号"},
      {"很好", "不错", "还行", "用户修改了局部表达"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(editReason(c.oldSegment, c.newSegment, c.raw).rfind(c.expectedStart, 0), 0u) << c.oldSegment;
  }
}

TEST(TermLearning, ProductFacingCopyAndAnalysisReason) {
  EXPECT_EQ(productFacingCopy("DeepSeek 诊断：大模型分析认为 DeepSeek 建议加入"), "Mirla 分析：Mirla 分析认为 Mirla 建议加入");
  MirlaFeedbackAnalysis analysis;
  EXPECT_EQ(analysisReason(analysis), "");
  analysis.summary = "专名识别错误";
  analysis.strategy = "保留专名";
  EXPECT_EQ(analysisReason(analysis), "专名识别错误；策略：保留专名");
  analysis.likelyIssue = "asr_proper_noun";
  EXPECT_EQ(analysisReason(analysis), "专名识别错误；类型：asr_proper_noun；策略：保留专名");
}

TEST(TermLearning, RelatednessGate) {
  const std::string paste = repeat("今天下午开会讨论方案。", 10);  // 110 characters
  EXPECT_TRUE(isRelatedEdit(paste, paste + repeat("补", 80)));
  EXPECT_FALSE(isRelatedEdit(paste, paste + repeat("补", 81)));
  const std::string longPaste = repeat("今天下午开会讨论方案。", 20);  // 220: limit is half its length
  EXPECT_TRUE(isRelatedEdit(longPaste, longPaste + repeat("补", 110)));
  EXPECT_FALSE(isRelatedEdit(longPaste, longPaste + repeat("补", 111)));
  // Without containment, the shared characters decide (threshold 0.42).
  EXPECT_TRUE(isRelatedEdit("你觉得 Cloud 好还是 Kodak 好？", "你觉得 Claude 好还是 Codex 好？"));
  EXPECT_FALSE(isRelatedEdit("今天下午三点开会", "明早九点去机场接人"));
  // 5 shared of 12 distinct = 0.4166 < 0.42; 5 of 11 = 0.4545.
  EXPECT_FALSE(isRelatedEdit("abcdefgh", "abcdeXYZW"));
  EXPECT_TRUE(isRelatedEdit("abcdefgh", "abcdeXYZ"));
}

TEST(TermLearning, CandidateExtractorAndCanonicalTerms) {
  EXPECT_EQ(extractCandidateTerms("用 “林晓” 和 Qwen3-ASR 还有 Codex, 以及「塞专」"),
            (std::vector<std::string>{"Qwen3-ASR", "Codex", "林晓", "塞专"}));
  EXPECT_EQ(stringEditDistance("claud", "claude"), 1u);
  EXPECT_EQ(stringEditDistance("", "林晓"), 2u);
  EXPECT_EQ(stringEditDistance("林晓", "林小"), 1u);
  const std::vector<std::string> existing{"claude", "Codex"};
  const std::vector<std::string> edited{"Claudette"};
  EXPECT_EQ(canonicalLearnableTerm("CODEX", {}, existing), "Codex");
  EXPECT_EQ(canonicalLearnableTerm("claud", {}, existing), "claude");   // a clipped word completed
  EXPECT_EQ(canonicalLearnableTerm("Kodex", {}, existing), "Codex");    // close by edit distance
  EXPECT_EQ(canonicalLearnableTerm("Gemini", {}, existing), "Gemini");
  EXPECT_EQ(canonicalLearnableTerm("x", {}, existing), std::nullopt);
  EXPECT_EQ(canonicalLearnableTerm("Claudett", edited, {}), "Claudette");
  EXPECT_TRUE(selfTestLearnableTerms());
  // Without any Latin or quoted candidate, the cleaned segment itself.
  EXPECT_EQ(learnableTerms("林晓", "我叫林晓", {}), (std::vector<std::string>{"林晓"}));
  EXPECT_TRUE(learnableTerms("的", "我的", {}).empty());
}

}  // namespace
}  // namespace sorvane
