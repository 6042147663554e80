// The production WebSocket port: `WebSocketClient` over Qt's QWebSocket.
//
// Construct it with the serial queue its sockets live on (a Qt-backed queue of the
// dispatcher, i.e. a thread with its own event loop). A QWebSocket belongs to one
// thread, so every call on a connection, from whichever queue it comes, is posted to
// that queue, and each socket is created and deleted there.
//
// What the adapter adds to QWebSocket:
//   - frames sent while the handshake runs wait in order and go out once it completes
//     (QWebSocket alone drops them); a connection that fails drops them and reports
//     how many in its one `onFailure`;
//   - a handshake timeout (`WebSocketRequest::timeout`), which Qt 6.4 lacks;
//   - whole-message delivery only, with messages and frames limited to
//     `kMaxWebSocketMessageBytes`: a larger one ends the connection as a failure;
//   - URL and header checks before anything is sent: ws:// goes only to a loopback
//     host (keys never travel in clear text), wss:// anywhere; header names must be
//     tokens and values free of line breaks and NUL.
// A close by the peer with 1000 or 1001 is `onClose`; any other end (refused or failed
// handshake, lost connection, another close code, protocol error) is `onFailure`.
//
// Destroy the client before the dispatcher that owns the network queue, from any queue
// but the network queue itself; connections still open are aborted then and report
// nothing.
#pragma once

#include <memory>

#include "net/web_socket.h"

namespace sorvane {

class QtWebSocketClient final : public WebSocketClient {
 public:
  explicit QtWebSocketClient(SerialQueue& networkQueue);
  ~QtWebSocketClient() override;
  QtWebSocketClient(const QtWebSocketClient&) = delete;
  QtWebSocketClient& operator=(const QtWebSocketClient&) = delete;

  std::unique_ptr<WebSocketConnection> connect(WebSocketRequest request, SerialQueue& eventQueue,
                                               WebSocketEvents events) override;

  struct Registry;  // the connections alive on the network queue (qt_web_socket_client.cpp)

 private:
  SerialQueue& networkQueue_;
  std::shared_ptr<Registry> registry_;
};

}  // namespace sorvane
