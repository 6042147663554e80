// The recogniser clients over real sockets: the Qt WebSocket adapter against loopback
// servers that speak each service's protocol. Real time, generous bounds.
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asr/deepgram_streaming_client.h"
#include "asr/qwen_streaming_client.h"
#include "core/clock.h"
#include "core/config_folder.h"
#include "core/qt/qt_dispatcher.h"
#include "net/qt/qt_web_socket_client.h"
#include "support/loopback_asr_servers.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::LiveServerScript;
using testing::LogCapture;
using testing::LoopbackLiveServer;
using testing::LoopbackRealtimeServer;
using testing::RealtimeServerScript;
using testing::waitUntil;

constexpr std::size_t kChunkBytes = 3200;  // 100 ms at 16 kHz

// Distinct bytes per position, so any loss or reordering shows.
std::string chunk(int index) {
  std::string bytes(kChunkBytes, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((index * 31 + i * 7) % 251);
  return bytes;
}

// What one client reported, collected from any thread.
struct Observed {
  std::mutex mutex;
  std::vector<std::string> marks;
  Json values = Json::object();
  std::vector<std::string> transcripts;
  std::optional<std::string> completion;

  void wire(StreamingRecognizer& client) {
    client.onMark = [this](std::string_view name) {
      std::lock_guard lock(mutex);
      marks.emplace_back(name);
    };
    client.onValue = [this](std::string_view key, const Json& value) {
      std::lock_guard lock(mutex);
      values[std::string(key)] = value;
    };
    client.onTranscript = [this](const std::string& text, bool) {
      std::lock_guard lock(mutex);
      transcripts.push_back(text);
    };
  }
  void reset() {
    std::lock_guard lock(mutex);
    marks.clear();
    values = Json::object();
    transcripts.clear();
    completion.reset();
  }
  bool hasMark(const std::string& name) {
    std::lock_guard lock(mutex);
    return std::find(marks.begin(), marks.end(), name) != marks.end();
  }
  bool done() {
    std::lock_guard lock(mutex);
    return completion.has_value();
  }
  Json value(const std::string& key) {
    std::lock_guard lock(mutex);
    return values.value(key, Json());
  }
};

class RecognizersLoopbackTest : public ::testing::Test {
 protected:
  RecognizersLoopbackTest()
      : dispatcher_(makeQtDispatcher(SystemClock::instance())),
        sockets_(std::make_unique<QtWebSocketClient>(dispatcher_->queue("app.sorvane.websocket"))) {}

  ~RecognizersLoopbackTest() override {
    client_.reset();
    // Let the client's cancel reach the socket before the adapter goes.
    waitUntil([] { return false; }, 50ms);
    sockets_.reset();
  }

  void startQwen(const LoopbackRealtimeServer& server) {
    providers_.dashscopeRealtimeURL = server.realtimeURL();
    client_ = std::make_unique<QwenStreamingClient>(*dispatcher_, *sockets_, "sk-loopback-key", providers_);
    observed_.wire(*client_);
    client_->start({});
  }
  void startDeepgram(const LoopbackLiveServer& server) {
    providers_.deepgramListenURL = server.listenURL();
    client_ = std::make_unique<DeepgramStreamingClient>(*dispatcher_, *sockets_, "dg-loopback-key", 16000, providers_);
    observed_.wire(*client_);
    client_->start({});
  }
  std::string sendChunks(int from, int to) {
    std::string all;
    for (int i = from; i < to; ++i) {
      all += chunk(i);
      client_->send(chunk(i));
    }
    return all;
  }
  std::string finishAndWait(Milliseconds limit = 5000ms) {
    client_->finish([this](std::string text) {
      std::lock_guard lock(observed_.mutex);
      observed_.completion = std::move(text);
    });
    EXPECT_TRUE(waitUntil([&] { return observed_.done(); }, limit));
    std::lock_guard lock(observed_.mutex);
    return observed_.completion.value_or("<none>");
  }

  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<QtWebSocketClient> sockets_;
  ProviderSettings providers_;
  LogCapture logs_;
  Observed observed_;
  std::unique_ptr<StreamingRecognizer> client_;
};

TEST_F(RecognizersLoopbackTest, QwenTurnStreamsAudioGetsPartialsAndItsFinalText) {
  RealtimeServerScript script;
  script.partials = {{3200, "今天", ""}, {9600, "今天要讨论", "实时语音"}};
  script.completedTranscript = "今天要讨论实时语音输入法。";
  LoopbackRealtimeServer server(script);
  startQwen(server);
  // Sent at once, before the session exists: held, then flushed in order.
  const std::string audio = sendChunks(0, 10);
  ASSERT_TRUE(waitUntil([&] { return server.audio().size() >= audio.size(); }));
  EXPECT_EQ(finishAndWait(), "今天要讨论实时语音输入法。");
  EXPECT_EQ(observed_.value("qwenFinalizeCompletionReason"), "final-event");
  EXPECT_EQ(observed_.value("qwenPendingFlushBuffers"), 10);
  ASSERT_TRUE(waitUntil([&] { return server.eventTypes().size() >= 14; }));
  EXPECT_EQ(server.audio(), audio + std::string(17920, '\0'));
  const auto types = server.eventTypes();
  EXPECT_EQ(types.front(), "session.update");
  EXPECT_EQ(std::vector<std::string>(types.end() - 2, types.end()),
            (std::vector<std::string>{"input_audio_buffer.commit", "session.finish"}));
  {
    std::lock_guard lock(observed_.mutex);
    EXPECT_NE(std::find(observed_.transcripts.begin(), observed_.transcripts.end(), "今天要讨论实时语音"),
              observed_.transcripts.end());
  }
  const auto handshakes = server.handshakes();
  ASSERT_EQ(handshakes.size(), 1u);
  EXPECT_EQ(handshakes[0].path, "/api-ws/v1/realtime?model=qwen3-asr-flash-realtime");
  EXPECT_EQ(handshakes[0].header("Authorization"), "Bearer sk-loopback-key");
}

TEST_F(RecognizersLoopbackTest, QwenServerThatAcceptsSlowlyStillReceivesEveryByteInOrder) {
  for (auto delay : {600ms, 3000ms}) {
    SCOPED_TRACE(delay.count());
    RealtimeServerScript script;
    script.acceptDelay = delay;
    script.completedTranscript = "慢慢来";
    LoopbackRealtimeServer server(script);
    observed_.reset();
    startQwen(server);
    std::string audio = sendChunks(0, 5);
    // After configuration the audio waits in the port until the socket opens.
    ASSERT_TRUE(waitUntil([&] { return observed_.hasMark("qwenSessionConfigured"); }));
    audio += sendChunks(5, 40);
    ASSERT_TRUE(waitUntil([&] { return server.audio().size() >= audio.size(); }, 10s));
    EXPECT_TRUE(server.audio() == audio) << "audio differs";
    EXPECT_EQ(finishAndWait(), "慢慢来");
  }
}

TEST_F(RecognizersLoopbackTest, QwenTurnThatLosesItsServerEndsByTimeoutWithWhatArrived) {
  struct Case {
    const char* name;
    RealtimeServerScript script;
    std::string expectedText;
  };
  std::vector<Case> cases;
  RealtimeServerScript refused;
  refused.handshakeStatus = 401;
  cases.push_back({"handshake refused", refused, ""});
  RealtimeServerScript dropped;
  dropped.partials = {{3200, "半句", ""}};
  dropped.dropAfterAudioBytes = 6400;
  cases.push_back({"connection dropped", dropped, "半句"});
  RealtimeServerScript garbage;
  garbage.partials = {{3200, "半句", ""}};
  garbage.garbageAfterFirstPartial = true;
  cases.push_back({"garbage frames", garbage, "半句"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture logs;
    LoopbackRealtimeServer server(c.script);
    observed_.reset();
    startQwen(server);
    sendChunks(0, 10);
    ASSERT_TRUE(waitUntil([&] { return logs.contains("qwen receive error"); }));
    sendChunks(10, 12);  // dropped quietly: the socket is gone
    EXPECT_EQ(finishAndWait(), c.expectedText);
    EXPECT_EQ(observed_.value("qwenFinalizeCompletionReason"), "hard-timeout");
    EXPECT_EQ(logs.count("qwen receive error"), 1u);
    for (const auto& line : logs.lines()) EXPECT_EQ(line.find("sk-loopback-key"), std::string::npos) << line;
  }
}

TEST_F(RecognizersLoopbackTest, DeepgramTurnIncludesTheResultsOfItsClosingWait) {
  LiveServerScript script;
  script.results = {{3200, "今天", false, false}, {6400, "今天天气", true, false}};
  script.closingResults = {{0, "很好", true, true}};
  LoopbackLiveServer server(script);
  startDeepgram(server);
  const std::string audio = sendChunks(0, 4);
  ASSERT_TRUE(waitUntil([&] { return server.audio().size() >= audio.size(); }));
  EXPECT_EQ(finishAndWait(), "今天天气 很好");
  EXPECT_EQ(server.audio(), audio);
  EXPECT_EQ(server.textMessages(), std::vector<std::string>{R"({"type":"CloseStream"})"});
  const auto handshakes = server.handshakes();
  ASSERT_EQ(handshakes.size(), 1u);
  EXPECT_TRUE(handshakes[0].path.starts_with("/v1/listen?model=nova-3&language=zh-CN&encoding=linear16&sample_rate=16000"));
  EXPECT_EQ(handshakes[0].header("Authorization"), "Token dg-loopback-key");
  EXPECT_TRUE(observed_.hasMark("deepgramFinishDone"));
}

TEST_F(RecognizersLoopbackTest, DeepgramFailuresEndAfterTheWaitWithOneLogLine) {
  LiveServerScript refused;
  refused.handshakeStatus = 401;
  LiveServerScript garbage;
  garbage.results = {{3200, "留下的", true, false}};
  garbage.garbageAfterFirstResult = true;
  const std::pair<LiveServerScript, std::string> cases[] = {{refused, ""}, {garbage, "留下的"}};
  for (const auto& [script, expected] : cases) {
    LogCapture logs;
    LoopbackLiveServer server(script);
    observed_.reset();
    startDeepgram(server);
    sendChunks(0, 4);
    ASSERT_TRUE(waitUntil([&] { return logs.contains("deepgram receive error"); }));
    EXPECT_EQ(finishAndWait(), expected);
    EXPECT_EQ(logs.count("deepgram receive error"), 1u);
  }
}

}  // namespace
}  // namespace sorvane
