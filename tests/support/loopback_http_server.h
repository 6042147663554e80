// An in-process HTTP/1.1 server on 127.0.0.1 for tests of the HTTP client and of every
// component that talks to an outside web service (language-model endpoints, the worker,
// the product website).
//
// The server listens on an ephemeral port from construction and answers each request
// with what its handler returns; the handler runs on the connection's own thread, so
// handlers must be thread-safe toward the test. Every request is recorded before the
// handler sees it. A response can be delayed, held back until the server is destroyed
// (to test client timeouts), cut short, or replaced by closing the connection. Request
// bodies are read by Content-Length; connections are kept alive unless either side says
// "Connection: close". The destructor stops accepting, releases every held response and
// joins every thread.
//
// `RefusingLoopbackPort` reserves a port on which nothing listens, so a connection to it
// is refused.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/loopback_connection.h"
#include "support/loopback_listener.h"

namespace sorvane::testing {

struct LoopbackRequest {
  std::string method;
  std::string path;  // with the query, as it appeared on the request line
  LoopbackHeaders headers;
  std::string body;

  // Case-insensitive; empty when absent.
  std::string header(std::string_view name) const;
};

struct LoopbackResponse {
  enum class Delivery {
    normal,
    holdForever,        // never answer; released only by the server's destruction
    truncateBody,       // announce the full Content-Length, send half the body, close
    closeWithoutAnswer  // close the connection without sending anything
  };

  int status = 200;
  LoopbackHeaders headers;  // Content-Length is added by the server
  std::string body;
  std::chrono::milliseconds delay{0};  // waited before answering
  Delivery delivery = Delivery::normal;

  static LoopbackResponse make(int status, std::string body, LoopbackHeaders headers = {}) {
    LoopbackResponse response;
    response.status = status;
    response.body = std::move(body);
    response.headers = std::move(headers);
    return response;
  }
  static LoopbackResponse held() {
    LoopbackResponse response;
    response.delivery = Delivery::holdForever;
    return response;
  }
};

class LoopbackHttpServer {
 public:
  using Handler = std::function<LoopbackResponse(const LoopbackRequest&)>;

  // Without a handler every request gets an empty 200.
  explicit LoopbackHttpServer(Handler handler = {});
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  uint16_t port() const { return listener_.port(); }
  // "http://127.0.0.1:<port>" followed by `path` (which should start with "/").
  std::string url(std::string_view path = "/") const;

  void setHandler(Handler handler);
  std::vector<LoopbackRequest> requests() const;
  std::size_t requestCount() const;

 private:
  void serveConnection(int socket);

  mutable std::mutex mutex_;
  Handler handler_;
  std::vector<LoopbackRequest> requests_;
  LoopbackListener listener_;  // last: its threads use the members above
};

class RefusingLoopbackPort {
 public:
  RefusingLoopbackPort();
  ~RefusingLoopbackPort();
  RefusingLoopbackPort(const RefusingLoopbackPort&) = delete;
  RefusingLoopbackPort& operator=(const RefusingLoopbackPort&) = delete;

  uint16_t port() const { return port_; }
  std::string url(std::string_view path = "/") const;

 private:
  int socket_ = -1;  // bound, never listening: the port stays ours and refuses connections
  uint16_t port_ = 0;
};

}  // namespace sorvane::testing
