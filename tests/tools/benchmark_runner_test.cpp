// The benchmark runner in virtual time: manifest handling, result lines and error rates,
// exit codes, the refine wait and a late result, and the recogniser port.
#include "tools/benchmark_runner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/json.h"
#include "postprocess/transcript_refiner.h"
#include "postprocess/worker_circuit_breaker.h"
#include "support/fake_http_client.h"
#include "support/test_support.h"
#include "support/virtual_time.h"
#include "tools/file_recognizer.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeHttpClient;
using testing::FakeHttpReply;
using testing::TempDir;
using testing::VirtualDispatcher;

std::string chatReply(const std::string& text) {
  return Json{{"choices", Json::array({Json{{"message", Json{{"content", Json{{"text", text}}.dump()}}}}})}}.dump();
}

std::vector<Json> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<Json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(parseJson(line).value_or(Json()));
  return lines;
}

// A recogniser that plays scripted updates at given times.
class ScriptedRecognizer final : public FileRecognizer {
 public:
  struct Timed {
    Milliseconds at;
    FileRecognitionUpdate update;
  };
  std::vector<Timed> script;
  bool permitted = true;
  int cancelled = 0;

  bool requestPermission() override { return permitted; }

  class Task final : public FileRecognitionTask {
   public:
    explicit Task(ScriptedRecognizer& owner) : owner_(owner) {}
    ~Task() override {
      ++owner_.cancelled;
      *alive_ = false;
    }
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

   private:
    ScriptedRecognizer& owner_;
  };

  std::unique_ptr<FileRecognitionTask> start(const std::string&, const std::string&, SerialQueue& queue,
                                             std::function<void(FileRecognitionUpdate)> onUpdate) override {
    auto task = std::make_unique<Task>(*this);
    for (const auto& timed : script) {
      queue.postAfter(timed.at, [alive = task->alive_, onUpdate, update = timed.update] {
        if (*alive) onUpdate(update);
      });
    }
    return task;
  }
};

class BenchmarkRunnerTest : public ::testing::Test {
 protected:
  BenchmarkRunnerTest() : breaker_(std::make_shared<WorkerCircuitBreaker>(dispatcher_.clock())) {
    providers_.deepseekBaseURL = "https://deepseek.test";
    providers_.dashscopeBaseURL = "https://dashscope.test";
    providers_.workerBaseURL = "https://worker.test";
    refiner_ = std::make_unique<TranscriptRefiner>(dispatcher_, http_, ConfigFolder(config_.path()), providers_,
                                                   breaker_);
  }

  std::string manifest(const Json& value) {
    work_.write("manifest.json", value.dump());
    return work_.file("manifest.json");
  }

  // Runs the runner to its end; returns the exit status (-1 when it never finished).
  int run(std::vector<std::string> arguments, FileRecognizer* recognizer = nullptr, bool progress = false) {
    BenchmarkRunner::Options options;
    options.showProgress = progress;
    BenchmarkRunner runner(dispatcher_, *refiner_, recognizer, out_, err_, options);
    int status = -1;
    dispatcher_.mainQueue().post([&] { runner.start(arguments, [&](int s) { status = s; }); });
    while (status == -1 && dispatcher_.runNext()) {
    }
    return status;
  }

  std::string output() const { return work_.file("results.jsonl"); }

  VirtualDispatcher dispatcher_;
  FakeHttpClient http_;
  TempDir config_;
  TempDir work_;
  ProviderSettings providers_;
  std::shared_ptr<WorkerCircuitBreaker> breaker_;
  std::unique_ptr<TranscriptRefiner> refiner_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST(BenchmarkTokens, WordsOrCharacters) {
  using V = std::vector<std::string>;
  EXPECT_EQ(BenchmarkRunner::tokens("Hello, World!"), (V{"hello", "world"}));
  EXPECT_EQ(BenchmarkRunner::tokens("你好，世界"), (V{"你", "好", "世", "界"}));
  EXPECT_EQ(BenchmarkRunner::tokens("用 API 调 v2\n。"), (V{"用", "A", "P", "I", "调", "v", "2"}));
  EXPECT_EQ(BenchmarkRunner::tokens("  state-of-the-art x86_64 "), (V{"state", "of", "the", "art", "x86", "64"}));
  EXPECT_EQ(BenchmarkRunner::tokens(""), V{});
}

TEST(BenchmarkErrorRates, EditDistanceOverTheReferenceLength) {
  struct Case {
    const char* reference;
    const char* hypothesis;
    double cer;
    double wer;
  };
  const Case cases[] = {
      {"今天开会", "今天开灰", 0.25, 0.25},
      {"今天开会", "今天开会了吧", 0.5, 0.5},
      {"the cat sat", "the cat sat down", 5.0 / 11.0, 1.0 / 3.0},
      {"", "", 0.0, 0.0},
      {"", "多了", 1.0, 1.0},
      {"少了", "", 1.0, 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference + std::string(" / ") + c.hypothesis);
    EXPECT_DOUBLE_EQ(BenchmarkRunner::characterErrorRate(c.reference, c.hypothesis), c.cer);
    EXPECT_DOUBLE_EQ(BenchmarkRunner::wordErrorRate(c.reference, c.hypothesis), c.wer);
  }
}

TEST(BenchmarkArguments, ValueAfterTheFirstFlag) {
  const std::vector<std::string> args{"--profile", "baseline", "--out", "a", "--out", "b", "--bench"};
  EXPECT_EQ(BenchmarkRunner::valueAfter("--out", args), "a");
  EXPECT_EQ(BenchmarkRunner::valueAfter("--profile", args), "baseline");
  EXPECT_EQ(BenchmarkRunner::valueAfter("--bench", args), std::nullopt);  // last
  EXPECT_EQ(BenchmarkRunner::valueAfter("--missing", args), std::nullopt);
}

TEST_F(BenchmarkRunnerTest, ResultLinesForALocalGuardRun) {
  const std::string path = manifest({{"samples",
                                      {{{"id", "s1"}, {"expected", "今天开会"}, {"rawOverride", "今天开灰"}},
                                       {{"id", "no-expected"}, {"rawOverride", "x"}},
                                       "not an object",
                                       {{"id", "s2"},
                                        {"expected", "hello world"},
                                        {"expectedFinal", "Hello world."},
                                        {"rawOverride", "hello word"},
                                        {"category", "english"},
                                        {"context", {{"appName", "Slack"}, {"visibleText", "hi"}}}}}}});
  EXPECT_EQ(run({"--bench", path, "--out", output(), "--profile", "local-guard"}), 0);
  const auto lines = readLines(output());
  ASSERT_EQ(lines.size(), 2u);  // the element without "expected" is skipped

  const Json& first = lines[0];
  const std::vector<std::string> keys{"audioPath", "category", "contextChars", "contextScene", "createdAtMs",
                                      "expected", "expectedFinal", "finalCER", "finalWER", "id", "locale",
                                      "profile", "profileID", "provider", "raw", "rawCER", "rawWER", "refineMs",
                                      "refined", "source", "speechError", "speechMs", "speechStatus", "totalMs"};
  std::vector<std::string> seen;
  for (const auto& [key, value] : first.items()) seen.push_back(key);
  EXPECT_EQ(seen, keys);
  EXPECT_EQ(first["id"], "s1");
  EXPECT_EQ(first["provider"], "local-guard");
  EXPECT_EQ(first["profile"], "local-guard");
  EXPECT_EQ(first["profileID"], "local-guard");
  EXPECT_EQ(first["speechStatus"], "raw-override");
  EXPECT_EQ(first["speechError"], "");
  EXPECT_EQ(first["category"], "uncategorized");
  EXPECT_EQ(first["locale"], "zh-CN");
  EXPECT_EQ(first["source"], "local");
  // "今天开会" against raw "今天开灰": one substitution in four characters and in four
  // tokens; the short text gets no terminal mark from the final formatting.
  EXPECT_EQ(first["expected"], "今天开会");
  EXPECT_EQ(first["raw"], "今天开灰");
  EXPECT_DOUBLE_EQ(first["rawCER"].get<double>(), 0.25);
  EXPECT_DOUBLE_EQ(first["rawWER"].get<double>(), 0.25);
  EXPECT_EQ(first["refined"], "今天开灰");
  EXPECT_DOUBLE_EQ(first["finalCER"].get<double>(), 0.25);

  const Json& second = lines[1];
  EXPECT_EQ(second["category"], "english");
  EXPECT_EQ(second["contextChars"], 2);
  EXPECT_EQ(second["expectedFinal"].get<std::string>().find("Hello world"), 0u);
  // "hello word" against "hello world": one substitution in two words.
  EXPECT_DOUBLE_EQ(second["rawWER"].get<double>(), 0.5);
  EXPECT_EQ(http_.requests().size(), 0u);
  EXPECT_NE(out_.str().find("bench summary samples=2 "), std::string::npos) << out_.str();
}

TEST_F(BenchmarkRunnerTest, UsageAndManifestFailures) {
  EXPECT_EQ(run({"--bench", "m.json"}), 2);
  EXPECT_EQ(err_.str(), std::string(kBenchUsage));
  EXPECT_EQ(run({"--out", output(), "--bench"}), 2);

  for (const std::string content : {"[{\"id\":\"a\",\"expected\":\"b\"}]", "{\"items\":[]}", "{bad", ""}) {
    SCOPED_TRACE(content);
    work_.write("bad.json", content);
    std::remove(output().c_str());
    EXPECT_EQ(run({"--bench", work_.file("bad.json"), "--out", output()}), 4);
    const auto lines = readLines(output());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["status"], "failed");
    EXPECT_EQ(lines[0]["reason"], "Invalid manifest");
    EXPECT_TRUE(lines[0]["createdAtMs"].is_number_integer());
  }
  EXPECT_EQ(run({"--bench", work_.file("missing.json"), "--out", output()}), 4);
}

TEST_F(BenchmarkRunnerTest, SpeechPermissionIsAskedOnlyForAudioSamples) {
  ScriptedRecognizer recognizer;
  recognizer.permitted = false;
  const std::string overrides = manifest({{"samples", {{{"id", "a"}, {"expected", "x"}, {"rawOverride", "x"}}}}});
  EXPECT_EQ(run({"--bench", overrides, "--out", output()}, &recognizer), 0);
  const std::string audio = manifest({{"samples", {{{"id", "a"}, {"expected", "x"}, {"audioPath", "a.wav"}}}}});
  EXPECT_EQ(run({"--bench", audio, "--out", output()}, &recognizer), 3);
  const auto lines = readLines(output());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back()["reason"], "speech-permission-denied");
}

TEST_F(BenchmarkRunnerTest, RecognitionStatuses) {
  struct Case {
    const char* name;
    std::vector<ScriptedRecognizer::Timed> script;
    const char* status;
    const char* raw;
    const char* error;
    int64_t speechMs;
  };
  const Case cases[] = {
      {"final", {{100ms, {"今天", false, {}}}, {300ms, {"今天开会", true, {}}}}, "final", "今天开会", "", 300},
      {"error after text", {{100ms, {"今天", false, {}}}, {200ms, {"", false, "network lost"}}}, "partial-with-error",
       "今天", "network lost", 200},
      {"error", {{50ms, {"", false, "no speech"}}}, "error", "", "no speech", 50},
      {"timeout keeps the text so far", {{100ms, {"今天", false, {}}}, {50s, {"今天开会", true, {}}}}, "timeout",
       "今天", "", 45000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRecognizer recognizer;
    recognizer.script = c.script;
    const std::string path = manifest(
        {{"samples", {{{"id", "a"}, {"expected", "今天开会"}, {"audioPath", "a.wav"}, {"locale", "zh-CN"}}}}});
    ASSERT_EQ(run({"--bench", path, "--out", output(), "--profile", "local-guard"}, &recognizer), 0);
    const auto lines = readLines(output());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["speechStatus"], c.status);
    EXPECT_EQ(lines[0]["raw"], c.raw);
    EXPECT_EQ(lines[0]["speechError"], c.error);
    EXPECT_EQ(lines[0]["speechMs"], c.speechMs);
    EXPECT_EQ(lines[0]["audioPath"], "a.wav");
    dispatcher_.advance(60s);  // anything still scheduled must not touch a finished run
    EXPECT_EQ(recognizer.cancelled, 1);
  }
  const std::string path = manifest({{"samples", {{{"id", "a"}, {"expected", "x"}, {"audioPath", "a.wav"}}}}});
  ASSERT_EQ(run({"--bench", path, "--out", output(), "--profile", "local-guard"}), 0);
  EXPECT_EQ(readLines(output()).at(0)["speechStatus"], "recognizer-unavailable");
}

// The first refinement outlasts the 20 s wait; its late answer arrives while the second
// sample is being refined and must not become the second sample's result.
TEST_F(BenchmarkRunnerTest, ALateRefinementIsDroppedAndNeverReachesTheNextSample) {
  config_.write("deepseek-api-key", "k1");
  config_.write("dashscope-api-key", "k2");
  // Qwen first (short text, no context). Sample one: Qwen and DeepSeek time out (7.5 s
  // each), the worker answers at 22 s. Sample two (from 20 s): Qwen answers after 3 s.
  http_.script("/compatible-mode/v1/chat/completions",
               {FakeHttpReply::stall(), FakeHttpReply::response(200, chatReply("第二个样本的答案在这里"), 3s)});
  http_.script("/chat/completions", {FakeHttpReply::stall()});
  http_.script("/api/interpret",
               {FakeHttpReply::response(200, Json{{"cleanedSourceText", "迟到的第一个答案"}}.dump(), 7s)});
  const std::string path = manifest({{"samples",
                                      {{{"id", "one"}, {"expected", "第一个样本"}, {"rawOverride", "第一个样本的原始文本"}},
                                       {{"id", "two"}, {"expected", "第二个样本"}, {"rawOverride", "第二个样本的答案在这里"}}}}});
  ASSERT_EQ(run({"--bench", path, "--out", output(), "--profile", "context-guarded-v4"}), 0);
  dispatcher_.advance(60s);
  const auto lines = readLines(output());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["id"], "one");
  EXPECT_EQ(lines[0]["provider"], "refine-timeout");
  EXPECT_EQ(lines[0]["refined"], "");
  EXPECT_EQ(lines[0]["refineMs"], 20000);
  EXPECT_EQ(lines[1]["id"], "two");
  EXPECT_EQ(lines[1]["provider"], "qwen-llm-direct");
  EXPECT_EQ(lines[1]["refined"].get<std::string>().find("迟到"), std::string::npos);
  EXPECT_EQ(lines[1]["refineMs"], 3000);
  EXPECT_EQ(http_.requestCount("/api/interpret"), 1u);  // the late one was sent during sample one
}

TEST_F(BenchmarkRunnerTest, ProgressOnlyWhenAskedAndOneSummaryLine) {
  const std::string path = manifest({{"samples",
                                      {{{"id", "a"}, {"expected", "好的"}, {"rawOverride", "好的"}},
                                       {{"id", "b"}, {"expected", "好"}, {"rawOverride", "好的"}}}}});
  ASSERT_EQ(run({"--bench", path, "--out", output(), "--profile", "local-guard"}), 0);
  EXPECT_EQ(err_.str(), "");
  ASSERT_EQ(run({"--bench", path, "--out", output(), "--profile", "local-guard"}, nullptr, true), 0);
  EXPECT_NE(err_.str().find("bench 2/2 elapsed "), std::string::npos) << err_.str();
  EXPECT_EQ(readLines(output()).size(), 2u);  // the second run emptied the file first
  const std::string out = out_.str();
  // "好的" is exact (0); "好" against "好的" is one insertion over one character (1).
  EXPECT_NE(out.find("bench summary samples=2 rawCER=0.5000 finalCER=0.5000 rawWER=0.5000 finalWER=0.5000"),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace sorvane
