// An in-process WebSocket server (RFC 6455) on 127.0.0.1 over plain sockets, for tests of
// the WebSocket port and of the realtime recognisers. No Qt: any suite may use it.
//
// The server listens on an ephemeral port from construction. Each connection runs on a
// thread of its own: the handshake handler decides how long the server waits before
// answering and with which status (101 accepts; anything else is answered as a plain
// HTTP error and closed), then `onOpen` and `onMessage` run on that thread for the
// connection's life, with a `LoopbackWebSocketPeer` to answer through. Whole messages
// are reassembled from fragments; pings are answered; a close frame is answered and
// ends the connection. Every handshake and message is recorded. The destructor stops
// accepting, wakes every wait and joins every thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "support/loopback_connection.h"
#include "support/loopback_listener.h"

namespace sorvane::testing {

struct WebSocketHandshake {
  std::string path;  // with the query
  LoopbackHeaders headers;
  std::string header(std::string_view name) const;  // case-insensitive; empty when absent
};

struct HandshakeAnswer {
  std::chrono::milliseconds delay{0};  // waited before answering
  int status = 101;
};

struct ReceivedWebSocketMessage {
  bool binary = false;
  std::string payload;
};

// One accepted connection, as seen by the handlers (on its own thread).
class LoopbackWebSocketPeer {
 public:
  virtual ~LoopbackWebSocketPeer() = default;
  virtual void sendText(std::string_view text) = 0;
  virtual void sendBinary(std::string_view bytes) = 0;
  // Written to the socket as they stand: for frames a client must reject.
  virtual void sendRaw(std::string_view bytes) = 0;
  // A close frame; the connection ends after the client's reply (or a short wait).
  virtual void close(int code, std::string_view reason = {}) = 0;
  // Ends the TCP connection without a close frame.
  virtual void drop() = 0;
  // Waits, unless the server is stopping (then false).
  virtual bool pause(std::chrono::milliseconds delay) = 0;
  virtual std::size_t index() const = 0;  // 0 for the first connection of the server
};

struct LoopbackWebSocketHandlers {
  std::function<HandshakeAnswer(const WebSocketHandshake&)> onHandshake = {};  // none: accept at once
  std::function<void(LoopbackWebSocketPeer&)> onOpen = {};
  std::function<void(LoopbackWebSocketPeer&, const ReceivedWebSocketMessage&)> onMessage = {};
};

class LoopbackWebSocketServer {
 public:
  using Handlers = LoopbackWebSocketHandlers;

  explicit LoopbackWebSocketServer(Handlers handlers = {});
  ~LoopbackWebSocketServer();
  LoopbackWebSocketServer(const LoopbackWebSocketServer&) = delete;
  LoopbackWebSocketServer& operator=(const LoopbackWebSocketServer&) = delete;

  uint16_t port() const { return listener_.port(); }
  // "ws://127.0.0.1:<port>" followed by `path`.
  std::string url(std::string_view path = "/") const;

  std::vector<WebSocketHandshake> handshakes() const;
  // Every message received, over all connections, in arrival order.
  std::vector<ReceivedWebSocketMessage> messages() const;
  std::size_t messageCount() const;
  // Close frames received from clients, as their codes.
  std::vector<int> closeCodes() const;

 private:
  class Peer;
  void serve(int socket, std::size_t index);

  Handlers handlers_;
  mutable std::mutex mutex_;
  std::vector<WebSocketHandshake> handshakes_;
  std::vector<ReceivedWebSocketMessage> messages_;
  std::vector<int> closeCodes_;
  LoopbackListener listener_;  // last: its threads use the members above
};

// The Sec-WebSocket-Accept value for a client's key.
std::string webSocketAcceptKey(std::string_view clientKey);
// One unmasked frame as a server sends it (opcode 1 text, 2 binary, 8 close, ...).
std::string webSocketFrame(int opcode, std::string_view payload, bool fin = true);

}  // namespace sorvane::testing
