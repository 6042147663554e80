// The refinement pipeline in virtual time over a scripted HTTP client: the decision
// sequence, the provider order and every fault of each provider, the worker and its
// breaker, and the translation and style transforms.
#include "postprocess/transcript_refiner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "core/json.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/worker_circuit_breaker.h"
#include "support/fake_http_client.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeHttpClient;
using testing::FakeHttpReply;
using testing::LogCapture;
using testing::TempDir;
using testing::VirtualDispatcher;
using Result = TranscriptRefiner::Result;

constexpr const char* kDeepSeekURL = "/chat/completions";
constexpr const char* kQwenURL = "/compatible-mode/v1/chat/completions";
constexpr const char* kWorkerURL = "/api/interpret";
constexpr const char* kDeepSeekKey = "sk-deepseek-SECRET-1";
constexpr const char* kQwenKey = "sk-qwen-SECRET-2";

// Short, not a fast path, no context: Qwen first.
constexpr const char* kQwenFirst = "我想问一下现在到底有没有接大模型";
// Sixty characters or more: DeepSeek first.
constexpr const char* kDeepSeekFirst =
    "我想确认一下这次发布的安排，先把登录页面的问题修好，然后把注册流程里面那个按钮的位置调整一下，最后再统一跑一遍回归测试看看有没有别的问题";

std::string chatReply(const std::string& text) {
  return Json{{"choices", Json::array({Json{{"message", Json{{"content", Json{{"text", text}}.dump()}}}}})}}.dump();
}

std::string header(const HttpRequest& request, std::string_view name) {
  HttpResponse view;
  view.headers = request.headers;
  return view.header(name);
}

class RefinerTest : public ::testing::Test {
 protected:
  RefinerTest() : breaker_(std::make_shared<WorkerCircuitBreaker>(dispatcher_.clock())) {
    providers_.deepseekBaseURL = "https://deepseek.test";
    providers_.dashscopeBaseURL = "https://dashscope.test";
    providers_.workerBaseURL = "https://worker.test";
    makeRefiner();
  }

  void makeRefiner() {
    refiner_ = std::make_unique<TranscriptRefiner>(dispatcher_, http_, ConfigFolder(home_.path()), providers_,
                                                   breaker_);
    refiner_->onMark = [this](std::string_view name) { marks_.emplace_back(name); };
    refiner_->onValue = [this](std::string_view key, Json value) { values_[std::string(key)] = std::move(value); };
  }

  void setKeys(bool deepseek, bool qwen) {
    if (deepseek) home_.write("deepseek-api-key", std::string(kDeepSeekKey) + "\n");
    else std::remove(home_.file("deepseek-api-key").c_str());
    if (qwen) home_.write("dashscope-api-key", kQwenKey);
    else std::remove(home_.file("dashscope-api-key").c_str());
  }

  // Runs one call to its single completion, which must come on the main queue.
  Result run(const std::function<void(TranscriptRefiner::Completion)>& start) {
    std::vector<Result> results;
    bool onMain = true;
    start([&](Result result) {
      onMain = onMain && dispatcher_.mainQueue().isCurrent();
      results.push_back(std::move(result));
    });
    while (results.empty() && dispatcher_.runNext()) {
    }
    dispatcher_.runUntilIdle();
    EXPECT_EQ(results.size(), 1u);
    EXPECT_TRUE(onMain);
    return results.empty() ? Result{} : results.front();
  }

  Result refine(const std::string& text, const InputContext& context = {},
                const RefineProfile& profile = RefineProfile::named()) {
    return run([&](auto done) {
      dispatcher_.mainQueue().post([&, done] { refiner_->refine(text, context, profile, done); });
    });
  }

  int64_t now() { return dispatcher_.virtualClock().elapsedMs(); }

  VirtualDispatcher dispatcher_;
  FakeHttpClient http_;
  TempDir home_;
  ProviderSettings providers_;
  std::shared_ptr<WorkerCircuitBreaker> breaker_;
  std::unique_ptr<TranscriptRefiner> refiner_;
  std::vector<std::string> marks_;
  std::map<std::string, Json> values_;
};

TEST_F(RefinerTest, LocalDecisionsMakeNoRequest) {
  setKeys(true, true);
  struct Case {
    const char* text;
    RefineProfile profile;
    const char* provider;
    std::optional<const char*> refinePath;
  };
  const Case cases[] = {
      {"", RefineProfile::named(), "empty", std::nullopt},
      {"   \n ", RefineProfile::named(), "empty", std::nullopt},
      {"好的", RefineProfile::named(), "local-fastpath", "local-fastpath"},
      {kDeepSeekFirst, RefineProfile::named("local-guard"), "local-guard", "local-guard"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    values_.clear();
    LogCapture log;
    const Result result = refine(c.text, {}, c.profile);
    EXPECT_EQ(result.provider, c.provider);
    EXPECT_EQ(result.profileID, c.profile.id);
    if (c.refinePath) {
      EXPECT_EQ(values_["refinePath"], *c.refinePath);
      EXPECT_EQ(values_["localFastpathHit"], true);
      EXPECT_EQ(result.text, localPipeline(TextNormalizer::normalizeInput(c.text), {}, c.profile));
    } else {
      EXPECT_EQ(result.text, "");
    }
    EXPECT_TRUE(log.lines().empty());
  }
  EXPECT_EQ(http_.requests().size(), 0u);
}

// Each fault of the primary provider sends the turn to the secondary, which answers.
TEST_F(RefinerTest, EveryFaultOfTheFirstProviderFallsToTheSecond) {
  struct Fault {
    const char* name;
    std::optional<FakeHttpReply> reply;  // none: the key file is missing
    const char* result;                  // llmResult of the primary, or null without a call
    std::optional<int> status;
    int64_t failsAtMs;
  };
  const Fault faults[] = {
      {"non-2xx", FakeHttpReply::response(503, "{\"error\":\"busy\"}", 20ms), "bad-response", 503, 20},
      {"no choices", FakeHttpReply::response(200, "{\"choices\":[]}"), "bad-response", 200, 0},
      {"content not a string", FakeHttpReply::response(200, R"({"choices":[{"message":{"content":7}}]})"),
       "bad-response", 200, 0},
      {"non-JSON", FakeHttpReply::response(200, "<html>gateway</html>"), "bad-response", 200, 0},
      {"empty body", FakeHttpReply::response(200, ""), "bad-response", 200, 0},
      {"timeout", FakeHttpReply::stall(), "error", std::nullopt, 4500},
      {"refused", FakeHttpReply::error(HttpError::Kind::connection, "Connection refused"), "error", std::nullopt, 0},
      {"oversized", FakeHttpReply::error(HttpError::Kind::other, "response body exceeds 8388608 bytes"), "error",
       std::nullopt, 0},
      {"missing key", std::nullopt, nullptr, std::nullopt, 0},
  };
  struct Route {
    const char* raw;
    const char* primary;
    const char* primaryURL;
    const char* secondary;
    const char* secondaryURL;
    const char* errorLog;
    const char* badLog;
    const char* missingReason;
  };
  const Route routes[] = {
      {kDeepSeekFirst, "deepseek-direct", kDeepSeekURL, "qwen-llm-direct", kQwenURL, "refine direct error ",
       "refine direct bad response", "missing-deepseek-key"},
      {kQwenFirst, "qwen-llm-direct", kQwenURL, "deepseek-direct", kDeepSeekURL, "refine qwen llm error ",
       "refine qwen llm bad response", "missing-qwen-key"},
  };
  for (const auto& route : routes) {
    for (const auto& fault : faults) {
      SCOPED_TRACE(std::string(route.primary) + " / " + fault.name);
      const bool primaryIsDeepSeek = std::string(route.primary) == "deepseek-direct";
      setKeys(primaryIsDeepSeek ? fault.reply.has_value() : true, primaryIsDeepSeek ? true : fault.reply.has_value());
      http_.clearScripts();
      if (fault.reply) http_.script(route.primaryURL, {*fault.reply});
      http_.script(route.secondaryURL, {FakeHttpReply::response(200, chatReply(route.raw), 30ms)});
      values_.clear();
      marks_.clear();
      LogCapture log;
      const std::size_t before = http_.requests().size();
      const int64_t started = now();

      const Result result = refine(route.raw);

      EXPECT_EQ(result.provider, route.secondary);
      EXPECT_FALSE(result.text.empty());
      EXPECT_EQ(now() - started, fault.failsAtMs + 30);
      const std::string reason = fault.reply ? route.primary : route.missingReason;
      EXPECT_EQ(values_["llmFallbackFrom"], reason);
      EXPECT_EQ(log.count(std::string("refine start provider=") + route.secondary + " profile=" +
                          std::string(kDefaultRefineProfileID) + " fallbackFrom=" + reason + " chars="),
                1u);
      EXPECT_EQ(log.count(std::string("refine done provider=") + route.secondary), 1u);
      EXPECT_EQ(http_.requests().size() - before, fault.reply ? 2u : 1u);
      if (!fault.reply) {
        EXPECT_EQ(log.count(std::string("refine skip provider=") + route.primary + " reason=missing-key primary="), 1u);
        continue;
      }
      EXPECT_EQ(log.count(std::string("refine start provider=") + route.primary + " profile="), 1u);
      if (std::string(fault.result) == "error") {
        EXPECT_EQ(log.count(route.errorLog), 1u);
      } else {
        EXPECT_EQ(log.count(route.badLog), 1u);
      }
      // The last attempt (the secondary's) overwrote the result values; the marks show both.
      EXPECT_EQ(std::count(marks_.begin(), marks_.end(), "llmRequestStart"), 2);
      EXPECT_EQ(std::count(marks_.begin(), marks_.end(), "llmRequestDone"), 2);
    }
  }
  EXPECT_FALSE(breaker_->isOpen());
}

TEST_F(RefinerTest, AFailingPrimaryRecordsItsOutcome) {
  setKeys(false, true);
  providers_.workerBaseURL.clear();
  makeRefiner();
  struct Case {
    FakeHttpReply reply;
    Json result;
    std::optional<Json> status;
    std::optional<Json> error;
  };
  const Case cases[] = {
      {FakeHttpReply::response(429, "{}"), "bad-response", 429, std::nullopt},
      {FakeHttpReply::stall(), "error", std::nullopt, "timed out after 4500 ms"},
  };
  for (const auto& c : cases) {
    http_.clearScripts();
    http_.script(kQwenURL, {c.reply});
    values_.clear();
    breaker_->reset();
    const Result result = refine(kQwenFirst);
    EXPECT_EQ(result.provider, "raw-fallback");
    // The worker step overwrote llmResult; read the attempt of Qwen from what it alone sets.
    EXPECT_EQ(values_["llmProviderAttempt"], "timeline-worker");
    if (c.status) {
      EXPECT_EQ(values_["llmStatus"], *c.status);
    }
    EXPECT_EQ(values_["llmFallbackFrom"], "qwen-llm-direct");
    EXPECT_EQ(values_["llmTimeoutMs"], 4500);
    EXPECT_EQ(values_["deepseekDirectKeyPresent"], false);
    EXPECT_EQ(values_["dashscopeLLMKeyPresent"], true);
    EXPECT_EQ(values_["llmRoute"], "qwen-primary");
  }
}

TEST_F(RefinerTest, RequestsCarryTheModelTheKeyHeaderAndTheTimeout) {
  setKeys(true, true);
  http_.script(kDeepSeekURL, {FakeHttpReply::response(500, "")});
  http_.script(kQwenURL, {FakeHttpReply::response(200, chatReply(kDeepSeekFirst))});
  refine(kDeepSeekFirst);
  ASSERT_EQ(http_.requests().size(), 2u);
  const HttpRequest& deepseek = http_.requests()[0];
  const HttpRequest& qwen = http_.requests()[1];
  EXPECT_EQ(deepseek.url, "https://deepseek.test/chat/completions");
  EXPECT_EQ(qwen.url, "https://dashscope.test/compatible-mode/v1/chat/completions");
  for (const auto& request : {deepseek, qwen}) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.timeout, 4500ms);
  }
  EXPECT_EQ(header(deepseek, "authorization"), std::string("Bearer ") + kDeepSeekKey);
  EXPECT_EQ(header(qwen, "authorization"), std::string("Bearer ") + kQwenKey);
  EXPECT_EQ(header(qwen, "content-type"), "application/json");

  const Json deepseekBody = *parseJsonObject(deepseek.body);
  EXPECT_EQ(deepseekBody["model"], "deepseek-v4-flash");
  EXPECT_EQ(deepseekBody["thinking"], (Json{{"type", "disabled"}}));
  EXPECT_EQ(deepseekBody["max_tokens"], 620);
  EXPECT_EQ(deepseekBody["temperature"], 0);
  const Json qwenBody = *parseJsonObject(qwen.body);
  EXPECT_EQ(qwenBody["model"], "qwen-plus");
  EXPECT_FALSE(qwenBody.contains("thinking"));
  const Json user = *parseJsonObject(qwenBody["messages"][1]["content"].get<std::string>());
  EXPECT_EQ(user["rawTranscript"], TextNormalizer::normalizeInput(kDeepSeekFirst));
}

TEST_F(RefinerTest, NoKeyAppearsInALogLineOrARequestBody) {
  setKeys(true, true);
  http_.script(kDeepSeekURL, {FakeHttpReply::error(HttpError::Kind::connection, "Connection refused")});
  http_.script(kQwenURL, {FakeHttpReply::response(401, "{\"error\":\"bad key\"}")});
  http_.script(kWorkerURL, {FakeHttpReply::response(500, "")});
  LogCapture log;
  refine(kDeepSeekFirst);
  ASSERT_EQ(http_.requests().size(), 3u);
  for (const auto& line : log.lines()) {
    EXPECT_EQ(line.find("SECRET"), std::string::npos) << line;
  }
  for (const auto& request : http_.requests()) {
    EXPECT_EQ(request.body.find("SECRET"), std::string::npos);
    EXPECT_EQ(request.url.find("SECRET"), std::string::npos);
  }
  EXPECT_EQ(header(http_.requests()[2], "authorization"), "");
}

TEST_F(RefinerTest, WorkerOutcomesAndTheBreaker) {
  setKeys(false, false);
  struct Case {
    const char* name;
    FakeHttpReply reply;
    const char* provider;
    const char* log;
    std::optional<int64_t> opensForMs;
  };
  const Case cases[] = {
      {"success", FakeHttpReply::response(200, Json{{"cleanedSourceText", kQwenFirst}}.dump()), "timeline-worker",
       "refine done provider=timeline-worker", std::nullopt},
      {"translated text", FakeHttpReply::response(200, Json{{"translatedText", kQwenFirst}}.dump()),
       "timeline-worker", "refine done provider=timeline-worker", std::nullopt},
      {"refused", FakeHttpReply::error(HttpError::Kind::connection, "Connection refused"), "raw-fallback",
       "refine worker error Connection refused", 90000},
      {"timeout", FakeHttpReply::stall(), "raw-fallback", "refine worker error timed out after 4500 ms", 90000},
      {"non-2xx", FakeHttpReply::response(502, "{}"), "raw-fallback", "refine worker bad response", 60000},
      {"non-JSON", FakeHttpReply::response(200, "ok"), "raw-fallback", "refine worker bad response", 60000},
      {"no text field", FakeHttpReply::response(200, "{\"cleanedSourceText\":3}"), "raw-fallback",
       "refine worker bad response", 60000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    breaker_->reset();
    http_.clearScripts();
    http_.script(kWorkerURL, {c.reply});
    LogCapture log;
    const std::size_t before = http_.requestCount(kWorkerURL);
    const Result result = refine(kQwenFirst);
    EXPECT_EQ(result.provider, c.provider);
    EXPECT_EQ(log.count(c.log), 1u);
    EXPECT_EQ(log.count("refine skip provider=qwen-llm-direct reason=missing-key primary=qwen"), 1u);
    EXPECT_EQ(log.count("refine skip provider=deepseek-direct reason=missing-key fallbackFrom=missing-qwen-key"), 1u);
    EXPECT_EQ(http_.requestCount(kWorkerURL) - before, 1u);
    if (!c.opensForMs) {
      EXPECT_FALSE(breaker_->isOpen());
      continue;
    }
    EXPECT_EQ(result.text, localPipeline(TextNormalizer::normalizeInput(kQwenFirst), {}, RefineProfile::named()));
    EXPECT_EQ(log.count("worker circuit breaker enabled failures=1 cooldownMs=" + std::to_string(*c.opensForMs)), 1u);
    // Open: no request until the cool-down has passed, measured from the failure.
    dispatcher_.advance(Milliseconds(*c.opensForMs - 1));
    values_.clear();
    EXPECT_EQ(refine(kQwenFirst).provider, "local-worker-circuit-breaker");
    EXPECT_EQ(values_["workerCircuitBreakerHit"], true);
    EXPECT_EQ(http_.requestCount(kWorkerURL) - before, 1u);
    dispatcher_.advance(1ms);
    http_.clearScripts();
    http_.script(kWorkerURL, {FakeHttpReply::response(200, Json{{"cleanedSourceText", kQwenFirst}}.dump())});
    EXPECT_EQ(refine(kQwenFirst).provider, "timeline-worker");  // a success closes it again
    EXPECT_FALSE(breaker_->isOpen());
    EXPECT_EQ(breaker_->failureCount(), 0);
  }
}

TEST_F(RefinerTest, FailuresCountUpAndTheBreakerIsSharedByEveryRefiner) {
  setKeys(false, false);
  http_.script(kWorkerURL, {FakeHttpReply::response(500, "")});
  TranscriptRefiner second(dispatcher_, http_, ConfigFolder(home_.path()), providers_, breaker_);
  LogCapture log;
  EXPECT_EQ(refine(kQwenFirst).provider, "raw-fallback");
  dispatcher_.advance(60s);
  EXPECT_EQ(refine(kQwenFirst).provider, "raw-fallback");
  EXPECT_EQ(log.count("worker circuit breaker enabled failures=2 cooldownMs=60000"), 1u);
  const Result fromSecond = run([&](auto done) { second.refine(kQwenFirst, {}, RefineProfile::named(), done); });
  EXPECT_EQ(fromSecond.provider, "local-worker-circuit-breaker");
  EXPECT_EQ(http_.requestCount(kWorkerURL), 2u);
}

TEST_F(RefinerTest, WithoutAWorkerHostTheWorkerStepFailsAtOnce) {
  setKeys(false, false);
  providers_.workerBaseURL.clear();
  makeRefiner();
  EXPECT_EQ(refiner_->workerURL(), "");
  LogCapture log;
  const int64_t started = now();
  EXPECT_EQ(refine(kQwenFirst).provider, "raw-fallback");
  EXPECT_EQ(now(), started);
  EXPECT_EQ(log.count("refine worker error worker not configured"), 1u);
  EXPECT_EQ(log.count("worker circuit breaker enabled failures=1 cooldownMs=90000"), 1u);
  EXPECT_EQ(values_["llmResult"], "error");
  dispatcher_.advance(89999ms);
  EXPECT_EQ(refine(kQwenFirst).provider, "local-worker-circuit-breaker");
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(RefinerTest, TheGuardChainJudgesEveryModelAnswer) {
  setKeys(false, true);
  struct Case {
    const char* raw;
    const char* answer;
    std::optional<const char*> log;
    bool keepsAnswer;
  };
  const Case cases[] = {
      // A lost amount: the raw-preserving text wins.
      {"发给 Edvin 的版本先写 2500 块，然后周五之前确认一下", "发给 Edvin 的版本先写一些钱，周五之前确认。",
       "postprocess lost numbers; using raw-preserving fallback count=1", false},
      // A value the user corrected away is not a lost number.
      {"我想把这个会订到八点，不对，是九点", "我把会议订到九点。", std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    http_.clearScripts();
    http_.script(kQwenURL, {FakeHttpReply::response(200, chatReply(c.answer))});
    LogCapture log;
    const Result result = refine(c.raw);
    EXPECT_EQ(result.provider, "qwen-llm-direct");
    if (c.log) {
      EXPECT_EQ(log.count(*c.log), 1u);
    }
    EXPECT_EQ(log.count("postprocess lost numbers"), c.log ? 1u : 0u);
    if (c.keepsAnswer) {
      EXPECT_EQ(result.text, "我把会议订到九点。");
    } else {
      EXPECT_NE(result.text.find("2500"), std::string::npos) << result.text;
    }
  }
}

TEST_F(RefinerTest, CalledFromAnotherQueueItCompletesOnTheMainQueue) {
  setKeys(true, true);
  SerialQueue& caller = dispatcher_.queue("app.sorvane.bench");
  const Result result = run([&](auto done) {
    caller.post([&, done] { refiner_->refine("好的", {}, RefineProfile::named(), done); });
  });
  EXPECT_EQ(result.provider, "local-fastpath");
}

TEST_F(RefinerTest, ACallOutlivingItsRefinerStillCompletesOnce) {
  setKeys(true, true);
  http_.script(kDeepSeekURL, {FakeHttpReply::response(500, "", 100ms)});
  std::vector<Result> results;
  dispatcher_.mainQueue().post([&] {
    refiner_->refine(kDeepSeekFirst, {}, RefineProfile::named(), [&](Result r) { results.push_back(r); });
  });
  dispatcher_.runUntilIdle();
  refiner_.reset();
  dispatcher_.advance(10s);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].provider, "raw-fallback");
  EXPECT_EQ(http_.requests().size(), 1u);  // nothing sent after the refiner went away
}

// --- translation and style ---

struct TransformCase {
  const char* name;
  bool deepseekKey;
  bool qwenKey;
  std::optional<FakeHttpReply> deepseek;
  std::optional<FakeHttpReply> qwen;
  const char* provider;  // with "<preset>" for the style form
  std::vector<const char*> logs;
};

class TransformTest : public RefinerTest {
 protected:
  Result transform(bool style, const std::string& raw) {
    return run([&](auto done) {
      dispatcher_.mainQueue().post([&, done, style] {
        if (style) refiner_->stylize(raw, VoiceStylePreset::rage, {}, RefineProfile::named(), done);
        else refiner_->translateToEnglish(raw, {}, RefineProfile::named(), done);
      });
    });
  }
};

TEST_F(TransformTest, ProviderOrderFallbacksAndLogLines) {
  const auto ok = [](const char* text) { return FakeHttpReply::response(200, chatReply(text)); };
  // kQwenFirst is short with no context: Qwen is the primary.
  const TransformCase cases[] = {
      {"primary answers", true, true, std::nullopt, ok("Translation: \"Is a model connected?\""),
       "qwen-llm-direct-%", {"%V start provider=qwen-llm-direct %P", "%V done provider=qwen-llm-direct-%"}},
      {"primary key missing", true, false, ok("Is a model connected?"), std::nullopt, "deepseek-direct-%",
       {"%V skip provider=qwen-llm-direct reason=missing-key primary=qwen",
        "%V start provider=deepseek-direct %Q fallbackFrom=missing-qwen-key"}},
      {"primary fails", true, true, ok("Is a model connected?"), FakeHttpReply::response(500, "{}"),
       "deepseek-direct-%",
       {"%V bad response provider=qwen-llm-direct status=500",
        "%V start provider=deepseek-direct %Q fallbackFrom=qwen-llm-direct"}},
      {"both fail", true, true, FakeHttpReply::error(HttpError::Kind::connection, "Connection refused"),
       FakeHttpReply::response(200, chatReply("  ")), "%-raw-fallback",
       {"%V bad response provider=qwen-llm-direct empty=true",
        "%V error provider=deepseek-direct error=Connection refused"}},
      {"no keys", false, false, std::nullopt, std::nullopt, "%-raw-fallback",
       {"%V skip provider=qwen-llm-direct reason=missing-key primary=qwen",
        "%V skip provider=deepseek-direct reason=missing-key fallbackFrom=missing-qwen-key"}},
  };
  for (bool style : {false, true}) {
    auto fill = [style](std::string pattern) {
      auto replace = [&](const std::string& from, const std::string& to) {
        for (auto at = pattern.find(from); at != std::string::npos; at = pattern.find(from, at + to.size())) {
          pattern.replace(at, from.size(), to);
        }
      };
      replace("%V", style ? "style" : "translate");
      replace("%P", style ? "preset=style_rage" : "primary=qwen");
      replace("%Q ", style ? "preset=style_rage " : "");
      replace("%-raw-fallback", style ? "style-raw-fallback" : "translation-raw-fallback");
      replace("-%", style ? "-style_rage" : "-translate-en");
      return pattern;
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(style ? "style / " : "translate / ") + c.name);
      setKeys(c.deepseekKey, c.qwenKey);
      http_.clearScripts();
      if (c.deepseek) http_.script(kDeepSeekURL, {*c.deepseek});
      if (c.qwen) http_.script(kQwenURL, {*c.qwen});
      values_.clear();
      LogCapture log;
      const std::size_t before = http_.requests().size();
      const Result result = transform(style, kQwenFirst);
      EXPECT_EQ(result.provider, fill(c.provider));
      for (const char* line : c.logs) EXPECT_EQ(log.count(fill(line)), 1u) << fill(line);
      EXPECT_EQ(values_["llmRoute"], style ? "qwen-style-primary" : "qwen-translation-primary");
      if (result.provider.find("raw-fallback") != std::string::npos) {
        EXPECT_EQ(result.text, TextNormalizer::normalizeInput(kQwenFirst));
      } else if (!style) {
        EXPECT_EQ(result.text, "Is a model connected?");
      }
      for (std::size_t i = before; i < http_.requests().size(); ++i) {
        const Json body = *parseJsonObject(http_.requests()[i].body);
        const Json user = *parseJsonObject(body["messages"][1]["content"].get<std::string>());
        EXPECT_EQ(user["task"], style ? "one_shot_style_transform" : "translate_to_english");
      }
      EXPECT_FALSE(log.contains("refine "));  // no guards, no worker
    }
  }
  EXPECT_EQ(http_.requestCount(kWorkerURL), 0u);
}

}  // namespace
}  // namespace sorvane
