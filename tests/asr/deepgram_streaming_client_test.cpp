#include "asr/deepgram_streaming_client.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asr/transcript_merge.h"
#include "core/config_folder.h"
#include "support/fake_web_socket.h"
#include "support/loopback_asr_servers.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeWebSocketClient;
using testing::liveResultsMessage;
using testing::LogCapture;
using testing::VirtualDispatcher;

constexpr const char* kKey = "dg-secret-key-77";

TEST(LiveTranscriptTest, FinalsMergeAndTheInterimFollowsThem) {
  struct Step {
    bool isFinal;
    const char* text;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> finalParts;
    const char* current;
  };
  const Case cases[] = {
      {"extended final replaces everything so far", {{true, "今天"}, {true, "今天天气"}}, {"今天天气"}, "今天天气"},
      {"unrelated finals are joined with a space", {{true, "A"}, {true, "B"}}, {"A", "B"}, "A B"},
      {"a final at the end of the joined finals is not added again", {{true, "我们 明天见"}, {true, "明天见"}},
       {"我们 明天见"}, "我们 明天见"},
      {"interim already at the end is not repeated", {{true, "你好世界"}, {false, "世界"}}, {"你好世界"}, "你好世界"},
      {"interim after the finals", {{true, "第一句"}, {false, " 第二 "}}, {"第一句"}, "第一句 第二"},
      {"interim alone", {{false, "还在说"}}, {}, "还在说"},
      {"empty and blank finals change nothing", {{true, ""}, {true, "  "}, {true, "好"}}, {"好"}, "好"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LiveTranscript transcript;
    for (const auto& step : c.steps) {
      if (step.isFinal) {
        transcript.mergeFinal(step.text);
        transcript.clearInterim();
      } else {
        transcript.setInterim(step.text);
      }
    }
    EXPECT_EQ(transcript.finalParts(), c.finalParts);
    EXPECT_EQ(transcript.current(), c.current);
  }
}

TEST(DeepgramResultTest, ParsesResultsAndIgnoresEverythingElse) {
  auto result = parseDeepgramResult(liveResultsMessage(" 你好 ", true, true));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->text, "你好");
  EXPECT_TRUE(result->isFinal);
  EXPECT_TRUE(result->speechFinal);
  auto untyped = parseDeepgramResult(R"({"channel":{"alternatives":[{"transcript":"无类型"}]},"is_final":"yes"})");
  ASSERT_TRUE(untyped);
  EXPECT_EQ(untyped->text, "无类型");
  EXPECT_FALSE(untyped->isFinal);  // a string is not a bool
  for (const char* ignored : {
           R"({"type":"UtteranceEnd","channel":[0,1],"last_word_end":1.2})",
           R"({"type":"Metadata","request_id":"x","channel":{"alternatives":[{"transcript":"no"}]}})",
           R"({"type":"SpeechStarted","channel":[0]})",
           R"({"type":7,"channel":{"alternatives":[{"transcript":"wrong type"}]}})",
           R"({"type":"Results","channel":[0,1]})",
           R"({"type":"Results","channel":{"alternatives":[]}})",
           R"({"type":"Results","channel":{"alternatives":{"transcript":"x"}}})",
           R"({"type":"Results","channel":{"alternatives":[{"transcript":3}]}})",
           R"({"type":"Results","channel":{"alternatives":["x"]}})",
           "{\"type\":\"Results\",\"channel\":{\"alternatives\":[{\"transcript\":\"\xc3\"}]}}",
           "[]", "", "garbage"}) {
    EXPECT_FALSE(parseDeepgramResult(ignored)) << ignored;
  }
}

class DeepgramClientTest : public ::testing::Test {
 protected:
  DeepgramClientTest() { make(); }

  void make() {
    client_ = std::make_unique<DeepgramStreamingClient>(dispatcher_, sockets_, kKey, 48000, providers_);
    client_->onTranscript = [this](const std::string& text, bool isFinal) { transcripts_.push_back({text, isFinal}); };
    client_->onMark = [this](std::string_view name) { marks_.emplace_back(name); };
    client_->onValue = [this](std::string_view key, const Json& value) { values_[std::string(key)] = value; };
    client_->start({true, "ignored", 1});
    dispatcher_.runUntilIdle();
  }
  void finish() {
    client_->finish([this](std::string text) { completions_.push_back({elapsed(), std::move(text)}); });
  }
  int64_t elapsed() { return dispatcher_.virtualClock().elapsedMs(); }

  VirtualDispatcher dispatcher_;
  FakeWebSocketClient sockets_;
  ProviderSettings providers_;
  LogCapture logs_;
  std::unique_ptr<DeepgramStreamingClient> client_;
  std::vector<std::pair<std::string, bool>> transcripts_;
  std::vector<std::string> marks_;
  Json values_ = Json::object();
  std::vector<std::pair<int64_t, std::string>> completions_;
};

TEST_F(DeepgramClientTest, ConnectsWithTheQueryItemsInOrderAndTheTokenKey) {
  const auto& request = sockets_.last().request;
  EXPECT_EQ(request.url,
            "wss://api.deepgram.com/v1/listen?model=nova-3&language=zh-CN&encoding=linear16&sample_rate=48000"
            "&channels=1&interim_results=true&endpointing=300&utterance_end_ms=1000&punctuate=true&smart_format=true"
            "&keyterm=Murmly&keyterm=DeepSeek&keyterm=Deepgram&keyterm=OpenAI&keyterm=Codex&keyterm=Cloudflare"
            "&keyterm=Worker&keyterm=API&keyterm=ASR");
  EXPECT_EQ(request.headers, (HttpHeaders{{"Authorization", std::string("Token ") + kKey}}));
  EXPECT_EQ(request.timeout, 15000ms);
  EXPECT_TRUE(logs_.contains("deepgram websocket started"));
}

TEST_F(DeepgramClientTest, StreamsBinaryAudioAndFinishesAfterExactly550Milliseconds) {
  client_->send("pcm-1");
  client_->send("");
  client_->send("pcm-2");
  sockets_.receiveText(liveResultsMessage("今天", false, false));
  sockets_.receiveText(liveResultsMessage("今天天气", true, false));
  dispatcher_.runUntilIdle();
  finish();
  client_->send("after finish");
  dispatcher_.advance(300ms);
  sockets_.receiveText(liveResultsMessage("很好", true, true));  // within the wait: included
  dispatcher_.advance(249ms);
  EXPECT_TRUE(completions_.empty());
  dispatcher_.advance(1ms);
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_EQ(completions_[0], (std::pair<int64_t, std::string>{550, "今天天气 很好"}));

  const auto& frames = sockets_.last().frames;
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_TRUE(frames[0].binary);
  EXPECT_EQ(frames[0].payload, "pcm-1");
  EXPECT_EQ(frames[1].payload, "pcm-2");
  EXPECT_FALSE(frames[2].binary);
  EXPECT_EQ(frames[2].payload, R"({"type":"CloseStream"})");
  EXPECT_EQ(transcripts_, (std::vector<std::pair<std::string, bool>>{
                              {"今天", false}, {"今天天气", true}, {"今天天气 很好", true}}));
  EXPECT_EQ(marks_, (std::vector<std::string>{"deepgramFinishStart", "deepgramFinishDone"}));
  EXPECT_EQ(values_["deepgramFinishWaitMs"], 550);
}

TEST_F(DeepgramClientTest, EmptyTranscriptsAndOtherMessagesProduceNoUpdate) {
  sockets_.receiveText(liveResultsMessage("", false, false));
  sockets_.receiveText(R"({"type":"UtteranceEnd","channel":[0,1]})");
  sockets_.receiveText(R"({"type":"Metadata","channel":{"alternatives":[{"transcript":"元数据"}]}})");
  dispatcher_.runUntilIdle();
  EXPECT_TRUE(transcripts_.empty());
}

TEST_F(DeepgramClientTest, CancelClosesAndALaterFinishCompletesAtOnce) {
  sockets_.receiveText(liveResultsMessage("已有", true, false));
  dispatcher_.runUntilIdle();
  client_->cancel();
  dispatcher_.runUntilIdle();
  EXPECT_TRUE(sockets_.last().closedByOwner);
  EXPECT_EQ(sockets_.last().closeCode, 1001);
  finish();
  dispatcher_.runUntilIdle();
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_EQ(completions_[0], (std::pair<int64_t, std::string>{0, "已有"}));
}

TEST_F(DeepgramClientTest, FailuresAreLoggedOnceWithoutTheKey) {
  sockets_.fail(std::string("401 Unauthorized for ") + kKey, 4);
  client_->send("dropped");
  dispatcher_.runUntilIdle();
  finish();
  dispatcher_.advance(550ms);
  EXPECT_EQ(logs_.count("deepgram receive error"), 1u);
  for (const auto& line : logs_.lines()) EXPECT_EQ(line.find(kKey), std::string::npos) << line;
  ASSERT_EQ(completions_.size(), 1u);
  EXPECT_EQ(completions_[0].second, "");
  EXPECT_TRUE(sockets_.last().frames.empty());  // neither audio nor CloseStream on a lost socket
}

TEST_F(DeepgramClientTest, InvalidURLMakesNoConnectionAndStillCompletes) {
  providers_.deepgramListenURL = "not a url";
  FakeWebSocketClient fresh;
  DeepgramStreamingClient client(dispatcher_, fresh, kKey, 16000, providers_);
  client.start({});
  client.send("audio");
  std::vector<std::string> texts;
  client.finish([&](std::string text) { texts.push_back(text); });
  dispatcher_.advance(550ms);
  EXPECT_EQ(fresh.connectionCount(), 0u);
  EXPECT_TRUE(logs_.contains("deepgram invalid url"));
  EXPECT_EQ(texts, std::vector<std::string>{""});
}

}  // namespace
}  // namespace sorvane
