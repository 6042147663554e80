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
// request); anything else fails at once with HttpError{other}. Plain http goes only to a
// loopback address (127.0.0.0/8, ::1, "localhost"): keys and passwords never travel in
// clear text, so any other http URL fails the same way without being sent. A request
// that carries a credential header (Authorization, Cookie, anything named like a key or
// token) never follows a redirect: the 3xx comes back as the response. A body cut short
// by the peer is a connection error, never a response, and so is a body larger than
// `kMaxResponseBodyBytes`: the exchange is aborted as soon as the size is known.
//
// Destroy the client from any queue except one that the network queue may be waiting
// on, and before the dispatcher that owns the network queue. Requests still in flight
// are aborted and their completions receive HttpError{cancelled}; completions are
// posted, never called during destruction, so they must guard their own owner.
#pragma once

#include <cstddef>
#include <memory>

#include "net/http_client.h"

namespace sorvane {

// Far more than any answer of the services we call; a larger body is refused.
inline constexpr std::size_t kMaxResponseBodyBytes = 8u * 1024u * 1024u;

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
