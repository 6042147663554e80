#include "learning/mirla_feedback_analyzer.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "context/input_context.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "net/qt/qt_http_client.h"
#include "support/loopback_http_server.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::LoopbackHttpServer;
using testing::LoopbackRequest;
using testing::LoopbackResponse;
using testing::TempDir;
using testing::waitUntil;

constexpr const char* kSecret = "sk-test-secret-0123456789";

std::string chatReply(const std::string& content) {
  return Json{{"choices", Json::array({Json{{"message", Json{{"role", "assistant"}, {"content", content}}}}})}}.dump();
}

class FeedbackAnalyzerTest : public ::testing::Test {
 protected:
  FeedbackAnalyzerTest()
      : dispatcher_(makeQtDispatcher(SystemClock::instance())),
        http_(std::make_unique<QtHttpClient>(dispatcher_->queue("app.sorvane.http"))) {}

  ~FeedbackAnalyzerTest() override { http_.reset(); }

  // DeepSeek and DashScope both pointed at the loopback server.
  MirlaFeedbackAnalyzer analyzer(std::chrono::milliseconds timeout = MirlaFeedbackAnalyzer::kRequestTimeout) {
    ProviderSettings providers;
    providers.deepseekBaseURL = server_.url("/deepseek");
    providers.dashscopeBaseURL = server_.url("/dashscope");
    return MirlaFeedbackAnalyzer(*dispatcher_, *http_, ConfigFolder(config_.path()), providers, timeout);
  }

  struct Outcome {
    bool called = false;
    bool onMainQueue = false;
    std::optional<MirlaFeedbackAnalysis> analysis;
  };

  Outcome analyzeEdit(MirlaFeedbackAnalyzer& subject) {
    auto outcome = std::make_shared<Outcome>();
    InputContext context;
    context.appName = "Code";
    subject.analyzeEdit("你觉得 cloud 好还是 kodak 好", "你觉得 Cloud 好还是 Kodak 好？", "你觉得 Claude 好还是 Codex 好？",
                        context, [this, outcome](std::optional<MirlaFeedbackAnalysis> analysis) {
                          outcome->called = true;
                          outcome->onMainQueue = dispatcher_->mainQueue().isCurrent();
                          outcome->analysis = std::move(analysis);
                        });
    EXPECT_TRUE(waitUntil([&] { return outcome->called; }));
    return *outcome;
  }

  TempDir config_;
  LoopbackHttpServer server_;
  LogCapture log_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<QtHttpClient> http_;
};

TEST_F(FeedbackAnalyzerTest, DeepSeekAnswerIsParsedAndDeliveredOnTheMainQueue) {
  config_.write("deepseek-api-key", std::string(kSecret) + "\n");
  config_.write("dashscope-api-key", "other-key");
  server_.setHandler([](const LoopbackRequest&) {
    return LoopbackResponse::make(
        200, chatReply(R"({"summary":"专名","likely_issue":"asr_proper_noun","dictionary_terms":["Claude","Codex"],"confidence":0.93,"strategy":"s"})"));
  });
  auto subject = analyzer();
  const Outcome outcome = analyzeEdit(subject);
  ASSERT_TRUE(outcome.analysis);
  EXPECT_TRUE(outcome.onMainQueue);
  EXPECT_EQ(outcome.analysis->provider, "deepseek-feedback-analyzer");
  EXPECT_EQ(outcome.analysis->dictionaryTerms, (std::vector<std::string>{"Claude", "Codex"}));

  ASSERT_EQ(server_.requestCount(), 1u);
  const LoopbackRequest request = server_.requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/deepseek/chat/completions");
  EXPECT_EQ(request.header("Authorization"), std::string("Bearer ") + kSecret);
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  const auto body = parseJsonObject(request.body);
  ASSERT_TRUE(body);
  EXPECT_EQ((*body)["model"], "deepseek-v4-flash");
  EXPECT_EQ((*body)["thinking"], (Json{{"type", "disabled"}}));
  EXPECT_EQ((*body)["max_tokens"], 760);
  EXPECT_TRUE(log_.contains("feedback analyzer start provider=deepseek-feedback-analyzer raw=21 final=22 edited=23"));
  EXPECT_TRUE(log_.contains("feedback analyzer done provider=deepseek-feedback-analyzer terms=Claude,Codex"));
  for (const auto& line : log_.lines()) EXPECT_EQ(line.find(kSecret), std::string::npos) << line;
}

TEST_F(FeedbackAnalyzerTest, PassiveAuditGoesToQwenWhenOnlyTheDashScopeKeyExists) {
  config_.write("dashscope-api-key", kSecret);
  server_.setHandler([](const LoopbackRequest&) {
    return LoopbackResponse::make(200, chatReply("```json\n{\"summary\":\"x\",\"dictionary_terms\":[\"林晓\"]}\n```"));
  });
  auto subject = analyzer();
  std::optional<MirlaFeedbackAnalysis> result;
  bool called = false;
  subject.auditPassive("raw", "我叫林晓", InputContext{}, [&](std::optional<MirlaFeedbackAnalysis> analysis) {
    called = true;
    result = std::move(analysis);
  });
  ASSERT_TRUE(waitUntil([&] { return called; }));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->provider, "qwen-passive-audit");
  EXPECT_EQ(result->dictionaryTerms, std::vector<std::string>{"林晓"});
  EXPECT_DOUBLE_EQ(result->confidence, 0.82);
  const LoopbackRequest request = server_.requests().at(0);
  EXPECT_EQ(request.path, "/dashscope/compatible-mode/v1/chat/completions");
  const auto body = parseJsonObject(request.body);
  ASSERT_TRUE(body);
  EXPECT_EQ((*body)["model"], "qwen-plus");
  EXPECT_FALSE(body->contains("thinking"));
}

TEST_F(FeedbackAnalyzerTest, AnswersAndFailures) {
  config_.write("deepseek-api-key", kSecret);
  struct Case {
    std::string name;
    LoopbackResponse response;
    bool analysis;
    std::string logLine;
  };
  const std::vector<Case> cases{
      {"plain text", LoopbackResponse::make(200, chatReply("只是换了说法")), true,
       "feedback analyzer done provider=deepseek-feedback-analyzer terms="},
      {"empty answer", LoopbackResponse::make(200, chatReply("  ")), false,
       "feedback analyzer done provider=deepseek-feedback-analyzer terms="},
      {"non-2xx", LoopbackResponse::make(503, chatReply("{}")), false, "feedback analyzer bad response status=503"},
      {"not JSON", LoopbackResponse::make(200, "<html>busy</html>"), false, "feedback analyzer bad response status=200"},
      {"no content", LoopbackResponse::make(200, R"({"choices":[]})"), false, "feedback analyzer bad response status=200"},
  };
  for (const auto& c : cases) {
    LogCapture log;
    server_.setHandler([&](const LoopbackRequest&) { return c.response; });
    auto subject = analyzer();
    const Outcome outcome = analyzeEdit(subject);
    EXPECT_EQ(outcome.analysis.has_value(), c.analysis) << c.name;
    EXPECT_TRUE(log.contains(c.logLine)) << c.name;
    if (c.name == "plain text" && outcome.analysis) {
      EXPECT_EQ(outcome.analysis->likelyIssue, "other");
      EXPECT_DOUBLE_EQ(outcome.analysis->confidence, 0.5);
    }
  }
}

TEST_F(FeedbackAnalyzerTest, ATimeoutDeliversNothing) {
  config_.write("deepseek-api-key", kSecret);
  server_.setHandler([](const LoopbackRequest&) { return LoopbackResponse::held(); });
  auto subject = analyzer(300ms);
  const auto started = std::chrono::steady_clock::now();
  const Outcome outcome = analyzeEdit(subject);
  EXPECT_FALSE(outcome.analysis);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
  EXPECT_TRUE(log_.contains("feedback analyzer error timed out after 300 ms"));
}

TEST_F(FeedbackAnalyzerTest, WithoutAKeyNoRequestIsMadeAndTheCompletionRunsAtOnce) {
  config_.write("deepseek-api-key", "  \n");  // blank: no key
  auto subject = analyzer();
  bool called = false;
  subject.analyzeEdit("a", "b", "c", InputContext{}, [&](std::optional<MirlaFeedbackAnalysis> analysis) {
    called = true;
    EXPECT_FALSE(analysis);
  });
  EXPECT_TRUE(called);
  called = false;
  subject.auditPassive("a", "b", InputContext{}, [&](std::optional<MirlaFeedbackAnalysis>) { called = true; });
  EXPECT_TRUE(called);
  EXPECT_EQ(server_.requestCount(), 0u);
}

}  // namespace
}  // namespace sorvane
