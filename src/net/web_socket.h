// The WebSocket port: one client connection to a service that streams JSON or binary
// frames both ways (the realtime recognisers).
//
// `connect` returns at once with a connection that is still opening. Frames sent while
// it opens wait in order and go out, in that order, as soon as the handshake completes;
// callers therefore never wait for an open event before sending. Every method may be
// called from any queue; frames sent from one queue keep their order. Events arrive on
// the queue the caller names:
//   - `onOpen` once when the handshake succeeded;
//   - `onText` / `onBinary` once per whole message (a message larger than
//     `kMaxWebSocketMessageBytes` ends the connection with a failure instead);
//   - at most one final event, `onFailure` (handshake refused or timed out, connection
//     lost, protocol error; the frames still waiting are dropped and counted) or
//     `onClose` (the peer closed with a close frame);
//   - nothing at all after the caller's own `close` or the destruction of the connection.
// The production adapter is `QtWebSocketClient` (net/qt); client logic is tested with a
// scripted fake port and the adapter against loopback servers.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/http_client.h"

namespace sorvane {

class SerialQueue;

// A message of a realtime service is a few kilobytes; anything beyond this is refused.
inline constexpr std::size_t kMaxWebSocketMessageBytes = 1024u * 1024u;

// Close codes used by the clients.
inline constexpr int kWebSocketCloseNormal = 1000;
inline constexpr int kWebSocketCloseGoingAway = 1001;

struct WebSocketRequest {
  std::string url;  // ws:// (loopback only) or wss://
  HttpHeaders headers;
  std::chrono::milliseconds timeout{15000};  // bounds the opening handshake
};

struct WebSocketFailure {
  std::string description;
  std::size_t droppedFrames = 0;  // frames sent before the failure that never went out
};

struct WebSocketEvents {
  std::function<void()> onOpen;
  std::function<void(std::string text)> onText;
  std::function<void(std::string bytes)> onBinary;
  std::function<void(WebSocketFailure failure)> onFailure;
  std::function<void(int code, std::string reason)> onClose;
};

class WebSocketConnection {
 public:
  // Closes with 1001 (going away) when still open or opening; no event follows.
  virtual ~WebSocketConnection() = default;
  virtual void sendText(std::string text) = 0;
  virtual void sendBinary(std::string bytes) = 0;
  // Sends a close frame once the queued frames are out; no event follows.
  virtual void close(int code, std::string reason = {}) = 0;
};

class WebSocketClient {
 public:
  virtual ~WebSocketClient() = default;
  virtual std::unique_ptr<WebSocketConnection> connect(WebSocketRequest request, SerialQueue& eventQueue,
                                                       WebSocketEvents events) = 0;
};

// The parts of a ws:// or wss:// URL that the port checks before connecting; nothing
// when the text is not one (another scheme, no host, a bad port, white space or control
// characters).
struct WebSocketURL {
  bool secure = false;
  std::string host;  // without brackets for IPv6
  int port = 0;      // the scheme's default when the URL names none
  std::string pathAndQuery;
};
std::optional<WebSocketURL> parseWebSocketURL(std::string_view url);
// 127.0.0.0/8, ::1 and "localhost": the only hosts plain ws:// may reach.
bool isLoopbackHost(std::string_view host);

}  // namespace sorvane
