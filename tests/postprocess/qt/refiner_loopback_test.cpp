// The refiner over real sockets: the Qt HTTP client against loopback model and worker
// servers, with every fault each provider can show. Timeouts use a profile with a short
// remote timeout so the table runs in about a second.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "net/qt/qt_http_client.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/transcript_refiner.h"
#include "postprocess/worker_circuit_breaker.h"
#include "support/loopback_llm_servers.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::LoopbackChatServer;
using testing::LoopbackWorkerServer;
using testing::RefusingLoopbackPort;
using testing::ScriptedReply;
using testing::TempDir;
using Result = TranscriptRefiner::Result;

constexpr const char* kDeepSeekKey = "sk-ds-LOOPBACK-SECRET";
constexpr const char* kQwenKey = "sk-qw-LOOPBACK-SECRET";
constexpr const char* kQwenFirst = "我想问一下现在到底有没有接大模型";
constexpr const char* kDeepSeekFirst =
    "我想确认一下这次发布的安排，先把登录页面的问题修好，然后把注册流程里面那个按钮的位置调整一下，最后再统一跑一遍回归测试看看有没有别的问题";

RefineProfile quickProfile() {
  RefineProfile profile = RefineProfile::named();
  profile.remoteTimeout = 0.4;
  return profile;
}

class RefinerLoopbackTest : public ::testing::Test {
 protected:
  RefinerLoopbackTest()
      : dispatcher_(makeQtDispatcher(SystemClock::instance())),
        http_(std::make_unique<QtHttpClient>(dispatcher_->queue("app.sorvane.http"))),
        breaker_(std::make_shared<WorkerCircuitBreaker>(dispatcher_->clock())) {
    providers_.deepseekBaseURL = deepseek_.baseURL();
    providers_.dashscopeBaseURL = qwen_.baseURL();
    providers_.workerBaseURL = worker_.baseURL();
    home_.write("deepseek-api-key", kDeepSeekKey);
    home_.write("dashscope-api-key", kQwenKey);
  }

  Result refine(const std::string& text, const RefineProfile& profile = quickProfile()) {
    TranscriptRefiner refiner(*dispatcher_, *http_, ConfigFolder(home_.path()), providers_, breaker_);
    std::optional<Result> result;
    int completions = 0;
    refiner.refine(text, {}, profile, [&](Result r) {
      ++completions;
      result = std::move(r);
    });
    EXPECT_TRUE(testing::waitUntil([&] { return result.has_value(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);
    return result.value_or(Result{});
  }

  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<QtHttpClient> http_;
  std::shared_ptr<WorkerCircuitBreaker> breaker_;
  LoopbackChatServer deepseek_;
  LoopbackChatServer qwen_;
  LoopbackWorkerServer worker_;
  TempDir home_;
  ProviderSettings providers_;
};

TEST_F(RefinerLoopbackTest, EachFaultOfEachProviderFallsToTheOtherOverRealSockets) {
  struct Fault {
    const char* name;
    std::optional<ScriptedReply> reply;  // none: see `refused` / missing key
    bool refused;
    bool keyMissing;
    const char* kind;  // "error", "bad" or "skip"
  };
  const Fault faults[] = {
      {"success", std::nullopt, false, false, nullptr},
      {"non-2xx", ScriptedReply::status(500), false, false, "bad"},
      {"no choices", ScriptedReply::body("{\"id\":\"x\"}"), false, false, "bad"},
      {"non-JSON", ScriptedReply::body("<html>502 Bad Gateway</html>"), false, false, "bad"},
      {"timeout", ScriptedReply::stall(), false, false, "error"},
      {"dropped connection", ScriptedReply::drop(), false, false, "error"},
      {"refused", std::nullopt, true, false, "error"},
      {"missing key", std::nullopt, false, true, "skip"},
      {"oversized body", ScriptedReply::oversized(kMaxResponseBodyBytes + 1024), false, false, "error"},
  };
  struct Route {
    const char* raw;
    bool deepseekFirst;
    const char* primary;
    const char* secondary;
    const char* errorLog;
    const char* badLog;
  };
  const Route routes[] = {
      {kDeepSeekFirst, true, "deepseek-direct", "qwen-llm-direct", "refine direct error ", "refine direct bad response"},
      {kQwenFirst, false, "qwen-llm-direct", "deepseek-direct", "refine qwen llm error ",
       "refine qwen llm bad response"},
  };
  RefusingLoopbackPort refusing;
  for (const auto& route : routes) {
    for (const auto& fault : faults) {
      SCOPED_TRACE(std::string(route.primary) + " / " + fault.name);
      LoopbackChatServer& primary = route.deepseekFirst ? deepseek_ : qwen_;
      LoopbackChatServer& secondary = route.deepseekFirst ? qwen_ : deepseek_;
      primary.script(fault.reply ? std::vector<ScriptedReply>{*fault.reply} : std::vector<ScriptedReply>{});
      secondary.script({});
      providers_.deepseekBaseURL = deepseek_.baseURL();
      providers_.dashscopeBaseURL = qwen_.baseURL();
      if (fault.refused) (route.deepseekFirst ? providers_.deepseekBaseURL : providers_.dashscopeBaseURL) = refusing.url("");
      const char* keyFile = route.deepseekFirst ? "deepseek-api-key" : "dashscope-api-key";
      if (fault.keyMissing) std::remove(home_.file(keyFile).c_str());
      const std::size_t primaryBefore = primary.requestCount();
      const std::size_t secondaryBefore = secondary.requestCount();
      LogCapture log;

      const Result result = refine(route.raw);

      home_.write(keyFile, route.deepseekFirst ? kDeepSeekKey : kQwenKey);
      if (!fault.kind) {
        EXPECT_EQ(result.provider, route.primary);
        EXPECT_EQ(secondary.requestCount(), secondaryBefore);
        EXPECT_EQ(result.text, localPipeline(TextNormalizer::normalizeInput(route.raw), {}, quickProfile()));
        continue;
      }
      EXPECT_EQ(result.provider, route.secondary);
      EXPECT_EQ(secondary.requestCount() - secondaryBefore, 1u);
      const std::string kind = fault.kind;
      if (kind == "skip") {
        EXPECT_EQ(primary.requestCount(), primaryBefore);
        EXPECT_EQ(log.count(std::string("refine skip provider=") + route.primary + " reason=missing-key"), 1u);
      } else {
        EXPECT_EQ(log.count(kind == "error" ? route.errorLog : route.badLog), 1u);
      }
      if (std::string(fault.name) == "timeout") {
        EXPECT_EQ(log.count("timed out after 400 ms"), 1u);
      }
      if (std::string(fault.name) == "oversized body") {
        EXPECT_EQ(log.count("response body exceeds 8388608 bytes"), 1u);
      }
    }
  }
  EXPECT_EQ(worker_.requestCount(), 0u);
  EXPECT_FALSE(breaker_->isOpen());
}

TEST_F(RefinerLoopbackTest, TheWorkerOverRealSocketsAndTheBreakerAfterIt) {
  std::remove(home_.file("deepseek-api-key").c_str());
  std::remove(home_.file("dashscope-api-key").c_str());
  EXPECT_EQ(refine(kQwenFirst).provider, "timeline-worker");  // echoes the raw transcript

  worker_.script({ScriptedReply::stall()});
  LogCapture log;
  EXPECT_EQ(refine(kQwenFirst).provider, "raw-fallback");
  EXPECT_EQ(log.count("refine worker error timed out after 400 ms"), 1u);
  EXPECT_EQ(log.count("worker circuit breaker enabled failures=1 cooldownMs=90000"), 1u);
  const std::size_t requests = worker_.requestCount();
  EXPECT_EQ(refine(kQwenFirst).provider, "local-worker-circuit-breaker");
  EXPECT_EQ(worker_.requestCount(), requests);
}

// What a server can see of a request (body, path) never holds a key; only the
// Authorization header does, and no log line ever does.
TEST_F(RefinerLoopbackTest, KeysTravelOnlyInTheAuthorizationHeader) {
  deepseek_.script({ScriptedReply::status(401, "{\"error\":\"invalid key\"}")});
  qwen_.script({ScriptedReply::drop()});
  worker_.script({ScriptedReply::status(500)});
  LogCapture log;
  EXPECT_EQ(refine(kDeepSeekFirst).provider, "raw-fallback");
  for (const auto& line : log.lines()) EXPECT_EQ(line.find("SECRET"), std::string::npos) << line;
  std::size_t seen = 0;
  for (auto* server : {static_cast<testing::ScriptedLoopbackServer*>(&deepseek_),
                       static_cast<testing::ScriptedLoopbackServer*>(&qwen_),
                       static_cast<testing::ScriptedLoopbackServer*>(&worker_)}) {
    for (const auto& request : server->requests()) {
      ++seen;
      EXPECT_EQ(request.body.find("SECRET"), std::string::npos);
      EXPECT_EQ(request.path.find("SECRET"), std::string::npos);
      for (const auto& [name, value] : request.headers) {
        if (value.find("SECRET") != std::string::npos) {
          EXPECT_EQ(name, "Authorization");
        }
      }
    }
  }
  EXPECT_GE(seen, 3u);  // Qt sends a request again once when the connection drops unanswered
  EXPECT_EQ(deepseek_.requests().at(0).header("Authorization"), std::string("Bearer ") + kDeepSeekKey);
  EXPECT_EQ(worker_.requests().at(0).header("Authorization"), "");
}

TEST_F(RefinerLoopbackTest, TranslationAndStyleOverRealSockets) {
  qwen_.script({ScriptedReply::answer("Is a model connected?")});
  TranscriptRefiner refiner(*dispatcher_, *http_, ConfigFolder(home_.path()), providers_, breaker_);
  std::vector<Result> results;
  refiner.translateToEnglish(kQwenFirst, {}, quickProfile(), [&](Result r) { results.push_back(r); });
  deepseek_.script({ScriptedReply::stall()});
  refiner.stylize(kDeepSeekFirst, VoiceStylePreset::highEQ, {}, quickProfile(), [&](Result r) {
    results.push_back(r);
  });
  ASSERT_TRUE(testing::waitUntil([&] { return results.size() == 2; }));
  EXPECT_EQ(results[0].provider, "qwen-llm-direct-translate-en");
  EXPECT_EQ(results[0].text, "Is a model connected?");
  // DeepSeek stalls; Qwen's script is used up and repeats its last reply.
  EXPECT_EQ(results[1].provider, "qwen-llm-direct-style_high_eq");
}

}  // namespace
}  // namespace sorvane
