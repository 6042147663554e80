#include "learning/mirla_feedback_analysis.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "context/input_context.h"
#include "postprocess/chat_completions.h"

namespace sorvane {
namespace {

TEST(FeedbackAnalysis, ParseAnalysisCases) {
  struct Case {
    std::string answer;
    std::optional<std::vector<std::string>> terms;  // absent: no analysis at all
    double confidence = 0;
    std::string summary;
    std::string likelyIssue;
  };
  const std::string object =
      R"({"summary":" 专名 ","likely_issue":"asr_proper_noun","dictionary_terms":[" Claude ","", "Codex"],"confidence":0.93,"strategy":"s"})";
  const std::vector<Case> cases{
      {object, std::vector<std::string>{"Claude", "Codex"}, 0.93, "专名", "asr_proper_noun"},
      {"```json\n" + object + "\n```", std::vector<std::string>{"Claude", "Codex"}, 0.93, "专名", "asr_proper_noun"},
      {"```JSON" + object + "```", std::vector<std::string>{"Claude", "Codex"}, 0.93, "专名", "asr_proper_noun"},
      {R"({"summary":"x","dictionary_terms":[],"confidence":1.0})", std::vector<std::string>{}, 0.99, "x", ""},
      {R"({"summary":"x","dictionary_terms":[],"confidence":7})", std::vector<std::string>{}, 0.99, "x", ""},
      {R"({"summary":"x","dictionary_terms":[],"confidence":-3})", std::vector<std::string>{}, 0.0, "x", ""},
      // No confidence: the default only for the expected shape.
      {R"({"summary":"x","likely_issue":"other","dictionary_terms":["A"]})", std::vector<std::string>{"A"}, 0.82, "x",
       "other"},
      {R"({"summary":"x","dictionary_term":" 林晓 "})", std::vector<std::string>{"林晓"}, 0.82, "x", ""},
      {R"({"text":"hello"})", std::vector<std::string>{}, 0.5, "", ""},
      {R"({"dictionary_terms":["A"]})", std::vector<std::string>{"A"}, 0.5, "", ""},
      // A confidence that is not a number never takes the default.
      {R"({"summary":"x","dictionary_terms":["A"],"confidence":"0.95"})", std::vector<std::string>{"A"}, 0.5, "x", ""},
      {R"({"summary":"x","dictionary_terms":["A"],"confidence":null})", std::vector<std::string>{"A"}, 0.5, "x", ""},
      {R"({"summary":"x","dictionary_terms":["A"],"confidence":true})", std::vector<std::string>{"A"}, 0.5, "x", ""},
      // An array with a non-text entry counts as no array; the single term still counts.
      {R"({"summary":"x","dictionary_terms":["A",1],"dictionary_term":"B","confidence":0.8})",
       std::vector<std::string>{"B"}, 0.8, "x", ""},
      {"这次修改只是换了说法。", std::vector<std::string>{}, 0.5, "这次修改只是换了说法。", "other"},
      {"  ```json ``` ", std::nullopt, 0, "", ""},
      {"", std::nullopt, 0, "", ""},
  };
  for (const auto& c : cases) {
    const auto analysis = parseAnalysis(c.answer, "test-provider");
    ASSERT_EQ(analysis.has_value(), c.terms.has_value()) << c.answer;
    if (!analysis) continue;
    EXPECT_EQ(analysis->provider, "test-provider");
    EXPECT_EQ(analysis->dictionaryTerms, *c.terms) << c.answer;
    EXPECT_DOUBLE_EQ(analysis->confidence, c.confidence) << c.answer;
    EXPECT_EQ(analysis->summary, c.summary) << c.answer;
    EXPECT_EQ(analysis->likelyIssue, c.likelyIssue) << c.answer;
  }
  EXPECT_TRUE(selfTestParser());
}

TEST(FeedbackAnalysis, SuggestionTextLeavesOutEmptyParts) {
  MirlaFeedbackAnalysis analysis;
  EXPECT_EQ(analysis.suggestionText(), "");
  analysis.summary = "专名错误";
  analysis.dictionaryTerms = {"Claude", "Codex"};
  EXPECT_EQ(analysis.suggestionText(), "结论：专名错误；词典：Claude, Codex");
  analysis.likelyIssue = "asr_proper_noun";
  analysis.strategy = "保留";
  EXPECT_EQ(analysis.suggestionText(), "结论：专名错误；类型：asr_proper_noun；词典：Claude, Codex；策略：保留");
}

TEST(FeedbackAnalysis, PromptsKeepTheirLinesInOrder) {
  const auto feedback = feedbackAnalysisPromptLines();
  ASSERT_EQ(feedback.size(), 15u);
  EXPECT_EQ(feedback[0], "你是 Mirla 的语音输入质量分析器。");
  EXPECT_EQ(feedback[11].rfind("例：raw=", 0), 0u);
  EXPECT_NE(feedback[13].find(R"("dictionary_terms":["值得加入词典的正确词"],"confidence":0.0,)"), std::string_view::npos);
  const auto passive = passiveAuditPromptLines();
  ASSERT_EQ(passive.size(), 12u);
  EXPECT_EQ(passive[0], "你是 Mirla 的被动词典审计器。");
  EXPECT_EQ(passive[7].rfind("例：用户说", 0), 0u);
  EXPECT_EQ(passive[11], "不要输出解释性前后缀。");
}

TEST(FeedbackAnalysis, RequestBodyCarriesTheDifferenceHint) {
  InputContext context;
  context.appName = "Code";
  context.bundleIdentifier = "code";
  context.textBeforeCursor = "see https://example.test/a";
  const Json body = feedbackRequestBody("deepseek-v4-flash", "raw 你觉得", "Mirla 输出", "Mirla 新增输出", context, false);
  EXPECT_EQ(body["model"], "deepseek-v4-flash");
  EXPECT_EQ(body["temperature"], 0);
  EXPECT_TRUE(body["temperature"].is_number_integer());
  EXPECT_EQ(body["max_tokens"], 760);
  ASSERT_EQ(body["messages"].size(), 2u);
  EXPECT_EQ(body["messages"][0]["role"], "system");
  EXPECT_EQ(body["messages"][0]["content"].get<std::string>().rfind("你是 Mirla 的语音输入质量分析器。\n用户确认", 0), 0u);
  const auto user = parseJsonObject(body["messages"][1]["content"].get<std::string>());
  ASSERT_TRUE(user);
  EXPECT_EQ((*user)["task"], "mirla_feedback_analysis");
  EXPECT_EQ((*user)["rawTranscript"], "raw 你觉得");
  EXPECT_EQ((*user)["userEditedOutput"], "Mirla 新增输出");
  EXPECT_EQ((*user)["diffHint"]["oldSegment"], "");
  EXPECT_EQ((*user)["diffHint"]["newSegment"], "新增");
  EXPECT_EQ((*user)["diffHint"]["isInsertionOnly"], true);
  EXPECT_EQ((*user)["appName"], "Code");
  EXPECT_EQ((*user)["contextText"], context.promptBlock(1800));
  EXPECT_EQ((*user)["scene"], std::string(context.scene()));

  // The passive audit sends the delivered text as the user's version: no difference.
  const Json passive = feedbackRequestBody("qwen-plus", "raw", "Mirla 输出", "ignored", context, true);
  const auto audit = parseJsonObject(passive["messages"][1]["content"].get<std::string>());
  ASSERT_TRUE(audit);
  EXPECT_EQ((*audit)["task"], "mirla_passive_dictionary_audit");
  EXPECT_EQ((*audit)["userEditedOutput"], "Mirla 输出");
  EXPECT_EQ((*audit)["diffHint"]["isInsertionOnly"], false);
  EXPECT_EQ(passive["messages"][0]["content"].get<std::string>().rfind("你是 Mirla 的被动词典审计器。", 0), 0u);
  // Invalid UTF-8 from the field does not break the request.
  EXPECT_TRUE(parseJsonObject(feedbackUserMessage("\xff raw", "a", "b\xfe", context, false)));
}

}  // namespace
}  // namespace sorvane
