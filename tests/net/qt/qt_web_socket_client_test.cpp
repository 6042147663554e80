#include "net/qt/qt_web_socket_client.h"

#include <QCoreApplication>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/dispatch.h"
#include "core/qt/qt_dispatcher.h"
#include "support/loopback_http_server.h"
#include "support/loopback_web_socket_server.h"
#include "support/qt/main_loop_wait.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::HandshakeAnswer;
using testing::LoopbackWebSocketPeer;
using testing::LoopbackWebSocketServer;
using testing::ReceivedWebSocketMessage;
using testing::waitUntil;
using testing::WebSocketHandshake;

// Everything the events of one connection told, in order, as "kind:payload" lines.
class EventLog {
 public:
  explicit EventLog(SerialQueue& queue) : queue_(queue) {}

  WebSocketEvents events() {
    WebSocketEvents e;
    e.onOpen = [this] { add("open", ""); };
    e.onText = [this](std::string text) { add("text", text); };
    e.onBinary = [this](std::string bytes) { add("binary", bytes); };
    e.onFailure = [this](WebSocketFailure failure) {
      add("failure", failure.description);
      std::lock_guard lock(mutex_);
      dropped_ = failure.droppedFrames;
    };
    e.onClose = [this](int code, std::string reason) { add("close", std::to_string(code) + " " + reason); };
    return e;
  }

  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::size_t count(const std::string& kind) const {
    std::size_t n = 0;
    for (const auto& entry : entries()) n += entry.starts_with(kind + ":");
    return n;
  }
  bool has(const std::string& kind) const { return count(kind) > 0; }
  std::string last() const {
    auto all = entries();
    return all.empty() ? "" : all.back();
  }
  std::size_t dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
  }
  bool allOnEventQueue() const {
    std::lock_guard lock(mutex_);
    return allOnQueue_;
  }

 private:
  void add(const std::string& kind, const std::string& payload) {
    std::lock_guard lock(mutex_);
    allOnQueue_ = allOnQueue_ && queue_.isCurrent();
    entries_.push_back(kind + ":" + payload);
  }

  SerialQueue& queue_;
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
  std::size_t dropped_ = 0;
  bool allOnQueue_ = true;
};

class QtWebSocketClientTest : public ::testing::Test {
 protected:
  QtWebSocketClientTest()
      : dispatcher_(makeQtDispatcher(SystemClock::instance())),
        networkQueue_(dispatcher_->queue("app.sorvane.websocket-test")),
        eventQueue_(dispatcher_->queue("app.sorvane.websocket-test.events")),
        client_(std::make_unique<QtWebSocketClient>(networkQueue_)),
        log_(eventQueue_) {}

  std::unique_ptr<WebSocketConnection> connect(const std::string& url, Milliseconds timeout = 5000ms) {
    WebSocketRequest request;
    request.url = url;
    request.headers = {{"Authorization", "Bearer sk-test"}};
    request.timeout = timeout;
    return client_->connect(std::move(request), eventQueue_, log_.events());
  }

  // Lets queued work on the network and event queues run.
  void drain() {
    networkQueue_.runSync([] {});
    eventQueue_.runSync([] {});
    QCoreApplication::processEvents();
  }

  std::unique_ptr<Dispatcher> dispatcher_;
  SerialQueue& networkQueue_;
  SerialQueue& eventQueue_;
  std::unique_ptr<QtWebSocketClient> client_;
  EventLog log_;
};

// Frames numbered 0..n-1, alternating text and binary.
void sendNumbered(WebSocketConnection& connection, int n) {
  for (int i = 0; i < n; ++i) {
    if (i % 2 == 0) {
      connection.sendText("frame " + std::to_string(i));
    } else {
      connection.sendBinary(std::string("\0bin ", 5) + std::to_string(i));
    }
  }
}

TEST_F(QtWebSocketClientTest, FramesSentWhileASlowHandshakeRunsArriveInOrderOnceItOpens) {
  LoopbackWebSocketServer server({.onHandshake = [](const WebSocketHandshake&) { return HandshakeAnswer{600ms, 101}; }});
  auto connection = connect(server.url("/api?model=m"));
  sendNumbered(*connection, 40);
  ASSERT_TRUE(waitUntil([&] { return server.messageCount() >= 40; }));
  const auto messages = server.messages();
  ASSERT_EQ(messages.size(), 40u);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(messages[i].binary, i % 2 == 1);
    EXPECT_EQ(messages[i].payload, i % 2 == 0 ? "frame " + std::to_string(i) : std::string("\0bin ", 5) + std::to_string(i));
  }
  ASSERT_TRUE(waitUntil([&] { return log_.has("open"); }));
  const auto handshakes = server.handshakes();
  ASSERT_EQ(handshakes.size(), 1u);
  EXPECT_EQ(handshakes[0].path, "/api?model=m");
  EXPECT_EQ(handshakes[0].header("Authorization"), "Bearer sk-test");
  EXPECT_TRUE(log_.allOnEventQueue());
}

TEST_F(QtWebSocketClientTest, DeliversWholeMessagesAndRefusesOneBeyondTheLimit) {
  const std::string large(300 * 1024, 'x');  // several TCP segments, one message
  LoopbackWebSocketServer server({.onOpen = [&](LoopbackWebSocketPeer& peer) {
    peer.sendText("{\"type\":\"hello\"}");
    peer.sendBinary(std::string("\x01\x02\x00", 3));
    peer.sendRaw(testing::webSocketFrame(1, "par", false) + testing::webSocketFrame(0, "ts", true));
    peer.sendText(large);
    peer.sendText(std::string(kMaxWebSocketMessageBytes + 1, 'y'));
    peer.sendText("after the oversized message");
  }});
  auto connection = connect(server.url());
  ASSERT_TRUE(waitUntil([&] { return log_.has("failure") || log_.has("close"); }));
  drain();
  const auto entries = log_.entries();
  ASSERT_EQ(entries.size(), 6u) << entries.back();
  EXPECT_EQ(entries[0], "open:");
  EXPECT_EQ(entries[1], "text:{\"type\":\"hello\"}");
  EXPECT_EQ(entries[2], std::string("binary:\x01\x02\x00", 10));
  EXPECT_EQ(entries[3], "text:parts");
  EXPECT_EQ(entries[4], "text:" + large);
  EXPECT_EQ(entries[5], "failure:message exceeds 1048576 bytes");
}

TEST_F(QtWebSocketClientTest, EveryAbnormalEndIsOneFailureThatCountsTheDroppedFrames) {
  struct Case {
    const char* name;
    LoopbackWebSocketServer::Handlers handlers;
    Milliseconds timeout;
    std::size_t dropped;
    std::string description = {};  // checked when given
  };
  std::vector<Case> cases;
  cases.push_back({"refused handshake",
                   {.onHandshake = [](const WebSocketHandshake&) { return HandshakeAnswer{0ms, 401}; }}, 5000ms, 3});
  cases.push_back({"handshake timeout",
                   {.onHandshake = [](const WebSocketHandshake&) { return HandshakeAnswer{3000ms, 101}; }}, 300ms, 3,
                   "handshake timed out after 300 ms"});
  cases.push_back({"dropped connection", {.onOpen = [](LoopbackWebSocketPeer& peer) { peer.drop(); }}, 5000ms, 0});
  cases.push_back({"reserved opcode",
                   {.onOpen = [](LoopbackWebSocketPeer& peer) { peer.sendRaw(testing::webSocketFrame(3, "x")); }},
                   5000ms, 0});
  cases.push_back({"close with an error code",
                   {.onOpen = [](LoopbackWebSocketPeer& peer) { peer.close(1011, "internal"); }}, 5000ms, 0,
                   "connection closed with code 1011: internal"});
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EventLog log(eventQueue_);
    LoopbackWebSocketServer server(std::move(c.handlers));
    WebSocketRequest request{server.url(), {}, c.timeout};
    auto connection = client_->connect(std::move(request), eventQueue_, log.events());
    if (c.dropped > 0) sendNumbered(*connection, 3);
    ASSERT_TRUE(waitUntil([&] { return log.has("failure"); }));
    // Frames sent after the failure go nowhere and report nothing.
    connection->sendText("late");
    drain();
    EXPECT_EQ(log.count("failure"), 1u);
    EXPECT_FALSE(log.has("close"));
    EXPECT_EQ(log.dropped(), c.dropped);
    if (!c.description.empty()) {
      EXPECT_EQ(log.last(), "failure:" + c.description);
    }
  }
}

TEST_F(QtWebSocketClientTest, RequestsThatMustNotBeSentFailWithoutTouchingTheNetwork) {
  const std::pair<WebSocketRequest, std::string> cases[] = {
      {{"ws://example.com/x", {}, 1000ms}, "refused plain ws to a non-loopback host"},
      {{"https://127.0.0.1/x", {}, 1000ms}, "invalid URL"},
      {{"ws://127.0.0.1:1/x", {{"Authorization", "Bearer a\r\nX-Evil: 1"}}, 1000ms}, "invalid header"},
      {{"ws://127.0.0.1:1/x", {{"Bad Name", "v"}}, 1000ms}, "invalid header"},
  };
  for (const auto& [request, description] : cases) {
    EventLog log(eventQueue_);
    auto connection = client_->connect(request, eventQueue_, log.events());
    ASSERT_TRUE(waitUntil([&] { return log.has("failure"); }));
    EXPECT_EQ(log.last(), "failure:" + description);
  }
}

TEST_F(QtWebSocketClientTest, PeerCloseIsReportedAndOwnerCloseReportsNothing) {
  LoopbackWebSocketServer server({.onMessage = [](LoopbackWebSocketPeer& peer, const ReceivedWebSocketMessage& m) {
    if (m.payload == "bye") peer.close(1000, "done");
  }});
  {
    auto connection = connect(server.url());
    connection->sendText("bye");
    ASSERT_TRUE(waitUntil([&] { return log_.has("close"); }));
    EXPECT_EQ(log_.last(), "close:1000 done");
  }

  EventLog quiet(eventQueue_);
  auto connection = client_->connect({server.url(), {}, 5000ms}, eventQueue_, quiet.events());
  connection->sendText("one");
  connection->close(kWebSocketCloseGoingAway);
  connection->sendText("after close");
  drain();
  waitUntil([] { return false; }, 200ms);  // room for anything that would arrive late
  EXPECT_TRUE(quiet.entries().empty());
  for (const auto& message : server.messages()) EXPECT_NE(message.payload, "after close");

  // Destroying an open connection sends 1001.
  EventLog destroyed(eventQueue_);
  auto open = client_->connect({server.url(), {}, 5000ms}, eventQueue_, destroyed.events());
  ASSERT_TRUE(waitUntil([&] { return destroyed.has("open"); }));
  open.reset();
  ASSERT_TRUE(waitUntil([&] {
    const auto codes = server.closeCodes();
    return !codes.empty() && codes.back() == kWebSocketCloseGoingAway;
  }));
  drain();
  EXPECT_EQ(destroyed.entries(), std::vector<std::string>{"open:"});
}

TEST_F(QtWebSocketClientTest, DestroyingTheClientAbortsOpenConnectionsSilently) {
  LoopbackWebSocketServer server({.onHandshake = [](const WebSocketHandshake&) { return HandshakeAnswer{2000ms, 101}; }});
  auto connection = connect(server.url());
  connection->sendText("queued");
  client_.reset();
  connection->sendText("after the client");
  connection.reset();
  drain();
  EXPECT_TRUE(log_.entries().empty());
}

}  // namespace
}  // namespace sorvane
