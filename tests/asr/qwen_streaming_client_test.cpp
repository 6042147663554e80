#include "asr/qwen_streaming_client.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asr/transcript_merge.h"
#include "core/base64.h"
#include "core/config_folder.h"
#include "core/recognition_hints.h"
#include "support/fake_web_socket.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeWebSocketClient;
using testing::LogCapture;
using testing::VirtualDispatcher;

constexpr const char* kKey = "sk-qwen-secret-0042";

TEST(QwenTranscriptTest, BestCandidateJoinsConfirmedTextStashAndDelta) {
  struct Case {
    const char* text;
    const char* stash;
    const char* delta;
    const char* previous;
    const char* expected;
  };
  const Case cases[] = {
      {"我今天一口气说了一百个字", "最后五个字", "", "", "我今天一口气说了一百个字最后五个字"},
      {"我今天一口气说了一百个字最后五个字", "五个字", "", "", "我今天一口气说了一百个字最后五个字"},
      {"今天要讨论实时语音", "语音输入法", "", "", "今天要讨论实时语音输入法"},
      {"", "别把尾巴吞掉", "", "", "别把尾巴吞掉"},
      {"OpenAI", "API", "", "", "OpenAI API"},
      {"", "", "继续补上最后几个字", "前面已经识别", "前面已经识别继续补上最后几个字"},
      // the stash wins over the delta; a delta at the end of the text changes nothing
      {"前面", "中间", "不用", "", "前面中间"},
      {"说到这里", "", "这里", "", "说到这里"},
      // the stash already contains the whole text
      {"今天", "今天天气", "", "", "今天天气"},
      {"  ", " \n", "", " 旧的文本 ", "旧的文本"},
      // ASCII letter and digit, letter and Han: no space
      {"GPT", "4o", "", "", "GPT4o"},
      {"OpenAI", "接口", "", "", "OpenAI接口"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bestTranscriptCandidate(c.text, c.stash, c.delta, c.previous), c.expected) << c.text << "|" << c.stash;
  }
}

TEST(QwenTranscriptTest, OverlapIsLookedForOverAtMostTwentyFourCharacters) {
  const std::string shared24 = "一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯";  // 24 characters
  EXPECT_EQ(mergeTranscript("开头" + shared24, shared24 + "结尾"), "开头" + shared24 + "结尾");
  const std::string shared25 = shared24 + "辰";
  EXPECT_EQ(mergeTranscript("开头" + shared25, shared25 + "结尾"), "开头" + shared25 + shared25 + "结尾");
}

TEST(QwenServerEventTest, ReadsOnlyWhatTheProtocolDefinesAndTreatsWrongTypesAsAbsent) {
  auto e = parseQwenServerEvent(
      R"({"type":"conversation.item.input_audio_transcription.text","text":" 你好 ","stash":"世界\n","delta":5})");
  EXPECT_EQ(e.kind, QwenServerEvent::Kind::transcription);
  EXPECT_EQ(e.text, "你好");
  EXPECT_EQ(e.stash, "世界");
  EXPECT_EQ(e.delta, "");
  EXPECT_EQ(parseQwenServerEvent(R"({"type":"error","error":{"message":"x"}})").kind, QwenServerEvent::Kind::error);
  EXPECT_EQ(parseQwenServerEvent(R"({"type":"session.updated","error":null})").kind, QwenServerEvent::Kind::error);
  for (const char* ignored : {R"({"type":"session.updated"})", "not json", "[1]", R"({"type":7,"text":"x"})",
                              "{\"type\":\"input_audio_transcription\",\"text\":\"\xff\"}"}) {
    EXPECT_EQ(parseQwenServerEvent(ignored).kind, QwenServerEvent::Kind::ignored) << ignored;
  }
}

class QwenClientTest : public ::testing::Test {
 protected:
  QwenClientTest() { make(); }

  void make(std::string key = kKey) {
    client_ = std::make_unique<QwenStreamingClient>(dispatcher_, sockets_, std::move(key), providers_);
    client_->onTranscript = [this](const std::string& text, bool isFinal) {
      EXPECT_TRUE(dispatcher_.mainQueue().isCurrent());
      transcripts_.push_back({text, isFinal});
    };
    client_->onMark = [this](std::string_view name) { marks_.emplace_back(name); };
    client_->onValue = [this](std::string_view key, const Json& value) { values_[std::string(key)] = value; };
  }

  void start(RecognitionHints hints = {}) {
    client_->start(std::move(hints));
    dispatcher_.runUntilIdle();
  }
  // A started turn whose session is configured (200 ms in).
  void startConfigured() {
    start();
    dispatcher_.advance(200ms);
  }

  void send(std::string bytes) { client_->send(std::move(bytes)); }
  void finish() {
    client_->finish([this](std::string text) {
      EXPECT_TRUE(dispatcher_.mainQueue().isCurrent());
      completions_.push_back({now(), std::move(text)});
    });
  }
  void partial(const std::string& text, const std::string& stash = "") {
    sockets_.receiveText(Json{{"type", "conversation.item.input_audio_transcription.text"}, {"text", text}, {"stash", stash}}.dump());
  }
  void completed(const std::string& transcript) {
    sockets_.receiveText(Json{{"type", "conversation.item.input_audio_transcription.completed"}, {"transcript", transcript}}.dump());
  }
  int64_t now() const { return dispatcher_.clock().wallMilliseconds() - start_; }

  std::vector<Json> sent() {
    std::vector<Json> events;
    for (const auto& frame : sockets_.last().frames) {
      EXPECT_FALSE(frame.binary);
      events.push_back(parseJsonObject(frame.payload).value_or(Json()));
    }
    return events;
  }
  // Event types, with each append shown as "append:<its audio>".
  std::vector<std::string> wire() {
    std::vector<std::string> out;
    for (const auto& event : sent()) {
      const std::string type = jsonString(event, "type").value_or("?");
      if (type == "input_audio_buffer.append") {
        out.push_back("append:" + base64Decode(jsonString(event, "audio").value_or("")).value_or("<bad base64>"));
      } else {
        out.push_back(type);
      }
    }
    return out;
  }

  VirtualDispatcher dispatcher_;
  const int64_t start_ = dispatcher_.clock().wallMilliseconds();
  FakeWebSocketClient sockets_;
  ProviderSettings providers_;
  LogCapture logs_;
  std::unique_ptr<QwenStreamingClient> client_;
  std::vector<std::pair<std::string, bool>> transcripts_;
  std::vector<std::string> marks_;
  Json values_ = Json::object();
  std::vector<std::pair<int64_t, std::string>> completions_;
};

const std::string kSilence(qwen::kTailSilenceBytes, '\0');

TEST_F(QwenClientTest, ConnectsToTheRealtimeEndpointWithTheBearerKey) {
  start();
  ASSERT_EQ(sockets_.connectionCount(), 1u);
  const auto& request = sockets_.last().request;
  EXPECT_EQ(request.url, "wss://dashscope.aliyuncs.com/api-ws/v1/realtime?model=qwen3-asr-flash-realtime");
  EXPECT_EQ(request.timeout, 15000ms);
  EXPECT_EQ(request.headers, (HttpHeaders{{"Authorization", std::string("Bearer ") + kKey}}));
  EXPECT_TRUE(logs_.contains("qwen websocket started"));
  EXPECT_EQ(values_["qwenSessionUpdateDelayMs"], 120);
}

TEST_F(QwenClientTest, SessionUpdateAt120MillisecondsCarriesTheHintsTakenAtStart) {
  struct Case {
    bool builtIn;
    std::string corpus;
    int terms;
    std::optional<std::string> expectedCorpus;
    int reportedTerms;
  };
  const std::string builtIn(kBuiltInRecognitionHints);
  const Case cases[] = {
      {false, "", 0, std::nullopt, 0},
      {true, "", 0, builtIn, 0},
      {false, "Mirla, 周报", 2, "Mirla, 周报", 2},
      {true, " Mirla ", 1, builtIn + ", Mirla", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.corpus);
    make();
    client_->start({c.builtIn, c.corpus, c.terms});
    dispatcher_.advance(119ms);
    EXPECT_TRUE(sockets_.last().frames.empty());
    dispatcher_.advance(1ms);
    auto events = sent();
    ASSERT_EQ(events.size(), 1u);
    const Json transcription = {{"model", "qwen3-asr-flash-realtime"}, {"language", "zh"}};
    Json expected = {{"type", "session.update"},
                     {"session",
                      {{"input_audio_format", "pcm"},
                       {"sample_rate", 16000},
                       {"turn_detection", nullptr},
                       {"input_audio_transcription", transcription}}}};
    if (c.expectedCorpus) expected["session"]["input_audio_transcription"]["corpus"] = {{"text", *c.expectedCorpus}};
    EXPECT_EQ(events[0], expected);
    EXPECT_EQ(values_["qwenCorpusHint"], c.builtIn);
    EXPECT_EQ(values_["qwenUserDictionaryTerms"], c.reportedTerms);
    dispatcher_.advance(80ms);
    EXPECT_EQ(values_["qwenPendingFlushBuffers"], 0);
  }
}

TEST_F(QwenClientTest, AudioBeforeConfigurationIsHeldThenSentFirstInOrder) {
  start();
  send("A");
  send("B");
  dispatcher_.advance(150ms);
  send("C");
  dispatcher_.advance(49ms);
  EXPECT_EQ(wire(), (std::vector<std::string>{"session.update"}));
  dispatcher_.advance(1ms);
  send("E");
  dispatcher_.runUntilIdle();
  EXPECT_EQ(wire(), (std::vector<std::string>{"session.update", "append:A", "append:B", "append:C", "append:E"}));
  EXPECT_NE(std::find(marks_.begin(), marks_.end(), "qwenSessionConfigured"), marks_.end());
}

// Whatever arrives while the configure step runs (here: from inside its own mark) still
// follows the held audio, and a finish then does not lose it.
TEST_F(QwenClientTest, SendsAndFinishArrivingDuringConfigurationFollowTheHeldAudio) {
  make();
  client_->onMark = [this](std::string_view name) {
    if (name == "qwenSessionConfigured") {
      send("D");
      finish();
    }
  };
  start();
  send("A");
  send("B");
  dispatcher_.advance(120ms);
  send("C");
  dispatcher_.advance(80ms);
  dispatcher_.advance(40ms);
  EXPECT_EQ(wire(), (std::vector<std::string>{"session.update", "append:A", "append:B", "append:C", "append:D",
                                              "append:" + kSilence, "input_audio_buffer.commit", "session.finish"}));
  EXPECT_EQ(values_["qwenPendingFlushBuffers"], 3);
  EXPECT_TRUE(logs_.contains("qwen session configured flushedBuffers=3"));
}

TEST_F(QwenClientTest, FinishBeforeConfigurationSendsTheSessionAndHeldAudioFirst) {
  start();
  send("A");
  dispatcher_.advance(50ms);
  send("B");
  finish();
  dispatcher_.runUntilIdle();
  send("dropped while finishing");
  dispatcher_.advance(40ms);
  EXPECT_EQ(wire(), (std::vector<std::string>{"session.update", "append:A", "append:B", "append:" + kSilence,
                                              "input_audio_buffer.commit", "session.finish"}));
  // The timers of the ordinary opening find nothing left to do.
  dispatcher_.advance(500ms);
  EXPECT_EQ(sent().size(), 6u);
  EXPECT_EQ(std::count(marks_.begin(), marks_.end(), "qwenSessionConfigured"), 1);
}

TEST_F(QwenClientTest, HeldAudioKeepsOnlyTheNewest32000Bytes) {
  start();
  for (char c : std::string("abcdef")) send(std::string(7000, c));  // 42000 bytes
  dispatcher_.advance(200ms);
  auto lines = wire();
  ASSERT_EQ(lines.size(), 5u);  // update + the newest four chunks (28000 bytes)
  EXPECT_EQ(lines[1], "append:" + std::string(7000, 'c'));
  EXPECT_EQ(lines[4], "append:" + std::string(7000, 'f'));
  // Once configured there is no cap: frames wait in the port.
  for (int i = 0; i < 10; ++i) send(std::string(7000, 'x'));
  dispatcher_.runUntilIdle();
  EXPECT_EQ(wire().size(), 15u);
}

TEST_F(QwenClientTest, FinishSequenceSendsSilenceThenCommitAfter40Milliseconds) {
  startConfigured();
  send("audio");
  finish();
  dispatcher_.runUntilIdle();
  send("late audio");
  dispatcher_.advance(39ms);
  EXPECT_EQ(wire().back(), "append:" + kSilence);
  dispatcher_.advance(1ms);
  auto lines = wire();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"append:audio", "append:" + kSilence, "input_audio_buffer.commit", "session.finish"}));
  for (const char* key : {"qwenTailSilenceMs", "qwenCommitDelayMs", "qwenStablePartialDelayMs", "qwenMaxFinalizeWaitMs"}) {
    EXPECT_TRUE(values_.contains(key)) << key;
  }
  EXPECT_EQ(values_["qwenMaxFinalizeWaitMs"], 1550);
  EXPECT_NE(std::find(marks_.begin(), marks_.end(), "qwenCommitSent"), marks_.end());
}

// Every way a finish ends, as a script of server events at times after the finish.
TEST_F(QwenClientTest, FinishCompletesOnceByTheFirstOfItsThreePaths) {
  struct Step {
    int64_t atMs;  // after the finish
    enum { partialEvent, completedEvent } kind;
    std::string text;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    int64_t expectedAtMs;
    std::string expectedText;
    std::string reason;
  };
  const Case cases[] = {
      {"completed event", {{100, Step::completedEvent, "最终文本"}}, 100, "最终文本", "final-event"},
      {"stable partial", {{100, Step::partialEvent, "第一"}}, 420, "第一", "stable-partial"},
      {"each partial restarts the wait",
       {{100, Step::partialEvent, "第一"}, {300, Step::partialEvent, "第一第二"}, {600, Step::partialEvent, "第一第二第三"}},
       920, "第一第二第三", "stable-partial"},
      {"hard timeout", {}, 1550, "开头", "hard-timeout"},
      {"partials until the hard timeout",
       {{0, Step::partialEvent, "a"}, {300, Step::partialEvent, "ab"}, {600, Step::partialEvent, "abc"},
        {900, Step::partialEvent, "abcd"}, {1200, Step::partialEvent, "abcde"}, {1500, Step::partialEvent, "abcdef"}},
       1550, "abcdef", "hard-timeout"},
      {"late second completion ignored",
       {{100, Step::completedEvent, "第一次"}, {200, Step::completedEvent, "第二次"}}, 100, "第一次", "final-event"},
      {"empty completed event completes with the current text", {{50, Step::completedEvent, ""}}, 50, "开头",
       "final-event"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make();
    completions_.clear();
    startConfigured();
    partial("开头");
    dispatcher_.runUntilIdle();
    finish();
    const int64_t finishAt = now();
    dispatcher_.runUntilIdle();
    for (const auto& step : c.steps) {
      dispatcher_.advance(Milliseconds(finishAt + step.atMs - now()));
      if (step.kind == Step::partialEvent) {
        partial(step.text);
      } else {
        completed(step.text);
      }
      dispatcher_.runUntilIdle();
    }
    dispatcher_.advance(3000ms);
    ASSERT_EQ(completions_.size(), 1u);
    EXPECT_EQ(completions_[0].first - finishAt, c.expectedAtMs);
    EXPECT_EQ(completions_[0].second, c.expectedText);
    EXPECT_EQ(values_["qwenFinalizeCompletionReason"], c.reason);
  }
}

TEST_F(QwenClientTest, CompletedEventBeforeFinishSetsTheTextButCompletesNothing) {
  startConfigured();
  partial("临时");
  completed("确认的文本");
  dispatcher_.runUntilIdle();
  EXPECT_EQ(transcripts_.back(), (std::pair<std::string, bool>{"确认的文本", true}));
  dispatcher_.advance(1000ms);
  EXPECT_TRUE(completions_.empty());
  finish();
  dispatcher_.advance(1549ms);
  EXPECT_TRUE(completions_.empty());
  dispatcher_.advance(1ms);
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_EQ(completions_[0].second, "确认的文本");
  EXPECT_EQ(values_["qwenFinalizeCompletionReason"], "hard-timeout");
}

TEST_F(QwenClientTest, FinishAfterCancelCompletesAtOnceWithTheCurrentText) {
  startConfigured();
  partial("已经识别");
  dispatcher_.runUntilIdle();
  client_->cancel();
  dispatcher_.runUntilIdle();
  EXPECT_TRUE(sockets_.last().closedByOwner);
  EXPECT_EQ(sockets_.last().closeCode, 1001);
  const auto framesBefore = sockets_.last().frames.size();
  finish();
  dispatcher_.runUntilIdle();
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_EQ(completions_[0], (std::pair<int64_t, std::string>{now(), "已经识别"}));
  dispatcher_.advance(2000ms);
  EXPECT_EQ(completions_.size(), 1u);
  EXPECT_EQ(sockets_.last().frames.size(), framesBefore);
}

TEST_F(QwenClientTest, ASecondFinishSharesTheFirstOutcome) {
  startConfigured();
  finish();
  dispatcher_.advance(100ms);
  finish();
  dispatcher_.advance(100ms);
  completed("文本");
  dispatcher_.runUntilIdle();
  finish();  // after completion: at once
  dispatcher_.runUntilIdle();
  ASSERT_EQ(completions_.size(), 3u);
  for (const auto& [at, text] : completions_) {
    EXPECT_EQ(at, 400);
    EXPECT_EQ(text, "文本");
  }
  EXPECT_EQ(std::count(marks_.begin(), marks_.end(), "qwenFinishStart"), 1);
}

TEST_F(QwenClientTest, EmptyPartialChangesNothingAndUpdatesCarryTheCurrentText) {
  startConfigured();
  sockets_.receiveText(R"({"type":"conversation.item.input_audio_transcription.text","text":" ","stash":""})");
  dispatcher_.runUntilIdle();
  EXPECT_TRUE(transcripts_.empty());
  EXPECT_FALSE(values_.contains("qwenLastEventType"));
  partial("今天要讨论实时语音", "语音输入法");
  dispatcher_.runUntilIdle();
  ASSERT_EQ(transcripts_.size(), 1u);
  EXPECT_EQ(transcripts_[0], (std::pair<std::string, bool>{"今天要讨论实时语音输入法", false}));
  EXPECT_EQ(values_["qwenLastStashChars"], 5);
  EXPECT_EQ(values_["qwenLatestCandidateChars"], 12);
}

TEST_F(QwenClientTest, ALostConnectionIsLoggedOnceAndTheFinishEndsByItsTimer) {
  startConfigured();
  partial("半句话");
  sockets_.fail(std::string("connection reset; key was ") + kKey, 2);
  dispatcher_.runUntilIdle();
  const auto framesBefore = sockets_.last().frames.size();
  send("audio after the loss");
  finish();
  dispatcher_.advance(2000ms);
  EXPECT_EQ(sockets_.last().frames.size(), framesBefore);
  EXPECT_EQ(logs_.count("qwen receive error"), 1u);
  EXPECT_TRUE(logs_.contains("droppedFrames=2"));
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_EQ(completions_[0].second, "半句话");
  EXPECT_EQ(values_["qwenFinalizeCompletionReason"], "hard-timeout");
}

TEST_F(QwenClientTest, ServerErrorsAreLoggedCutShortAndNothingLoggedHoldsTheKey) {
  startConfigured();
  sockets_.receiveText(std::string(R"({"type":"error","error":{"message":"bad key )") + kKey + " " +
                       std::string(5000, 'x') + "\"}}");
  sockets_.receiveBinary(R"({"type":"error","code":"from a binary frame"})");
  sockets_.receiveBinary("{\"type\":\"error\",\"bytes\":\"\xff\xfe\"}");  // invalid UTF-8: ignored
  sockets_.closeByPeer(1000);
  dispatcher_.runUntilIdle();
  EXPECT_EQ(logs_.count("qwen error "), 2u);
  for (const auto& line : logs_.lines()) {
    EXPECT_EQ(line.find(kKey), std::string::npos) << line;
    EXPECT_LT(line.size(), 1400u);
  }
  EXPECT_TRUE(logs_.contains("<redacted>"));
  EXPECT_TRUE(logs_.contains("qwen websocket closed code=1000"));
}

TEST_F(QwenClientTest, InvalidURLLeavesTheClientIdleAndTheFinishTimesOutEmpty) {
  providers_.dashscopeRealtimeURL = "https://not a websocket";
  make();
  start();
  send("audio");
  finish();
  dispatcher_.advance(2000ms);
  EXPECT_EQ(sockets_.connectionCount(), 0u);
  EXPECT_TRUE(logs_.contains("qwen invalid url"));
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_EQ(completions_[0], (std::pair<int64_t, std::string>{1550, ""}));
}

TEST_F(QwenClientTest, DestroyingTheClientClosesTheSocketAndDeliversNothingMore) {
  startConfigured();
  finish();
  dispatcher_.runUntilIdle();
  client_.reset();
  dispatcher_.advance(3000ms);
  EXPECT_TRUE(completions_.empty());
  EXPECT_TRUE(sockets_.last().closedByOwner);
}

}  // namespace
}  // namespace sorvane
