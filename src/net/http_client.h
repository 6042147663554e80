// The HTTP client port: one request in, one outcome out, delivered once on a queue of
// the caller's choice.
//
// Used for the language-model services, the worker endpoint and the product website.
// The outcome is either a response (any status, with headers and body; a non-2xx status
// is a response, not an error) or a transport error with a human-readable description
// (refused connection, DNS failure, TLS failure, timeout). The timeout bounds the whole
// exchange from the moment the request is sent. The production adapter is
// `QtHttpClient`; tests use it against the loopback server of tests/support.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace sorvane {

class SerialQueue;

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  HttpHeaders headers;
  std::string body;  // usually JSON text; sent as is
  std::chrono::milliseconds timeout{30000};
};

struct HttpResponse {
  int status = 0;
  HttpHeaders headers;
  std::string body;

  bool isSuccess() const { return status >= 200 && status <= 299; }
  // Case-insensitive header lookup; empty when absent.
  std::string header(std::string_view name) const;
};

struct HttpError {
  enum class Kind { connection, timeout, cancelled, other };
  Kind kind = Kind::other;
  std::string description;
};

using HttpOutcome = std::variant<HttpResponse, HttpError>;
using HttpCompletion = std::function<void(HttpOutcome)>;

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // `completion` runs exactly once, on `completionQueue`.
  virtual void send(HttpRequest request, SerialQueue& completionQueue, HttpCompletion completion) = 0;
};

// A JSON POST with the usual headers.
HttpRequest jsonPost(std::string url, std::string body, std::chrono::milliseconds timeout,
                     HttpHeaders extraHeaders = {});

}  // namespace sorvane
