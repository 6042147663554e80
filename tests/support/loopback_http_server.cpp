#include "support/loopback_http_server.h"

#include <unistd.h>

#include <charconv>
#include <optional>

namespace sorvane::testing {
namespace {

constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

std::string loopbackUrl(uint16_t port, std::string_view path) {
  return "http://127.0.0.1:" + std::to_string(port) + std::string(path);
}

void sendPlain(LoopbackConnection& connection, int status) { connection.send(httpResponseHead(status, {}, 0, true)); }

}  // namespace

std::string LoopbackRequest::header(std::string_view name) const { return headerValue(headers, name); }

LoopbackHttpServer::LoopbackHttpServer(Handler handler)
    : handler_(std::move(handler)), listener_([this](int fd, std::size_t) { serveConnection(fd); }) {}

LoopbackHttpServer::~LoopbackHttpServer() { listener_.stop(); }

std::string LoopbackHttpServer::url(std::string_view path) const { return loopbackUrl(port(), path); }

void LoopbackHttpServer::setHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<LoopbackRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t LoopbackHttpServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

void LoopbackHttpServer::serveConnection(int fd) {
  LoopbackConnection connection(fd);
  while (true) {
    bool tooLarge = false;
    auto head = connection.readHead(&tooLarge);
    if (!head) {
      if (tooLarge) sendPlain(connection, 431);
      break;
    }
    LoopbackRequestHead parsed = parseRequestHead(*head);
    if (!parsed.wellFormed || parsed.method.empty() || parsed.target.empty() || !parsed.version.starts_with("HTTP/1.")) {
      sendPlain(connection, 400);
      break;
    }
    LoopbackRequest request{std::move(parsed.method), std::move(parsed.target), std::move(parsed.headers), {}};
    if (!request.header("Transfer-Encoding").empty()) {
      sendPlain(connection, 501);  // request bodies are read by Content-Length only
      break;
    }
    std::size_t length = 0;
    const std::string lengthText = request.header("Content-Length");
    if (!lengthText.empty()) {
      const auto [end, error] = std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
      if (error != std::errc() || end != lengthText.data() + lengthText.size()) {
        sendPlain(connection, 400);
        break;
      }
      if (length > kMaxBodyBytes) {
        sendPlain(connection, 413);
        break;
      }
    }
    auto body = connection.read(length);
    if (!body) break;
    request.body = std::move(*body);

    Handler handler;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      handler = handler_;
    }
    LoopbackResponse response;
    try {
      if (handler) response = handler(request);
    } catch (...) {
      // A throwing handler must not take the whole test program down with its thread.
      response = LoopbackResponse::make(500, "handler threw");
    }

    if (response.delay.count() > 0 && !listener_.waitUnlessStopping(response.delay)) break;
    using Delivery = LoopbackResponse::Delivery;
    if (response.delivery == Delivery::holdForever) {
      listener_.waitUnlessStopping(std::chrono::milliseconds(-1));
      break;
    }
    if (response.delivery == Delivery::closeWithoutAnswer) break;

    const bool truncate = response.delivery == Delivery::truncateBody;
    const bool close = truncate || asciiLowered(request.header("Connection")).find("close") != std::string::npos ||
                       parsed.version == "HTTP/1.0";
    std::string out = httpResponseHead(response.status, response.headers, response.body.size(), close);
    if (request.method != "HEAD") out += truncate ? response.body.substr(0, response.body.size() / 2) : response.body;
    if (!connection.send(out) || close) break;
  }
}

RefusingLoopbackPort::RefusingLoopbackPort() {
  auto [fd, port] = bindLoopbackSocket();
  socket_ = fd;
  port_ = port;
}

RefusingLoopbackPort::~RefusingLoopbackPort() { ::close(socket_); }

std::string RefusingLoopbackPort::url(std::string_view path) const { return loopbackUrl(port_, path); }

}  // namespace sorvane::testing
