// The production HTTP client: `HttpClient` over Qt's QNetworkAccessManager.
//
// Construct it with the serial queue its network objects live on (a Qt-backed queue of
// the dispatcher, i.e. a thread with its own event loop); it starts no thread or timer
// of its own. `send` may be called from any queue: the request hops to the network
// queue, is sent there, and its outcome is posted exactly once to the caller's
// completion queue. The deadline covers the whole exchange, from sending the request to
// the last byte of the body; when it passes, the reply is aborted and the outcome is
// HttpError{timeout, "timed out after N ms"}. A timeout of zero or less means none.
//
// Only http and https URLs are sent, and header names and values must not contain line
// breaks or NUL (they would let a key file smuggle extra header lines into the
// request); anything else fails at once with HttpError{other}. A body cut short by the
// peer is a connection error, never a response.
//
// Destroy the client from any queue except one that the network queue may be waiting
// on, and before the dispatcher that owns the network queue. Requests still in flight
// are aborted and their completions receive HttpError{cancelled}; completions are
// posted, never called during destruction, so they must guard their own owner.
#pragma once

#include <memory>

#include "net/http_client.h"

namespace sorvane {

class QtHttpClient final : public HttpClient {
 public:
  explicit QtHttpClient(SerialQueue& networkQueue);
  ~QtHttpClient() override;
  QtHttpClient(const QtHttpClient&) = delete;
  QtHttpClient& operator=(const QtHttpClient&) = delete;

  void send(HttpRequest request, SerialQueue& completionQueue, HttpCompletion completion) override;

 private:
  // Confined to the network queue; shared with the tasks in flight so that none of them
  // outlives what it touches.
  struct State;

  SerialQueue& networkQueue_;
  std::shared_ptr<State> state_;
};

}  // namespace sorvane
