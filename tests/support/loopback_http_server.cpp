#include "support/loopback_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <charconv>
#include <optional>
#include <system_error>

namespace sorvane::testing {
namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

[[noreturn]] void throwErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string headerValue(const LoopbackHeaders& headers, std::string_view name) {
  const std::string wanted = lowered(name);
  for (const auto& [key, value] : headers) {
    if (lowered(key) == wanted) return value;
  }
  return {};
}

// A loopback socket bound to an ephemeral port; returns the socket and its port.
std::pair<int, uint16_t> bindLoopback() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throwErrno("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    throwErrno("bind");
  }
  return {fd, ntohs(address.sin_port)};
}

std::string loopbackUrl(uint16_t port, std::string_view path) {
  return "http://127.0.0.1:" + std::to_string(port) + std::string(path);
}

bool sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 413: return "Content Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// Reads from a connection into a buffer that may hold the start of the next request.
class ConnectionReader {
 public:
  explicit ConnectionReader(int fd) : fd_(fd) {}

  // The header section without its blank line; nothing on close, error or overflow.
  std::optional<std::string> readHead(bool& tooLarge) {
    tooLarge = false;
    while (true) {
      const auto end = buffer_.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::string head = buffer_.substr(0, end);
        buffer_.erase(0, end + 4);
        return head;
      }
      if (buffer_.size() > kMaxHeaderBytes) {
        tooLarge = true;
        return std::nullopt;
      }
      if (!fill()) return std::nullopt;
    }
  }

  std::optional<std::string> readBody(std::size_t length) {
    while (buffer_.size() < length) {
      if (!fill()) return std::nullopt;
    }
    std::string body = buffer_.substr(0, length);
    buffer_.erase(0, length);
    return body;
  }

 private:
  bool fill() {
    char chunk[16 * 1024];
    while (true) {
      const ssize_t received = ::recv(fd_, chunk, sizeof(chunk), 0);
      if (received < 0 && errno == EINTR) continue;
      if (received <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(received));
      return true;
    }
  }

  int fd_;
  std::string buffer_;
};

struct ParsedHead {
  LoopbackRequest request;
  std::string version;
};

std::optional<ParsedHead> parseHead(std::string_view head) {
  ParsedHead parsed;
  auto lineEnd = head.find("\r\n");
  std::string_view requestLine = head.substr(0, lineEnd);
  head = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);

  const auto firstSpace = requestLine.find(' ');
  const auto lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return std::nullopt;
  parsed.request.method = std::string(requestLine.substr(0, firstSpace));
  parsed.request.path = std::string(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
  parsed.version = std::string(requestLine.substr(lastSpace + 1));
  if (parsed.request.method.empty() || parsed.request.path.empty() || !parsed.version.starts_with("HTTP/1.")) {
    return std::nullopt;
  }

  while (!head.empty()) {
    lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    head = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    parsed.request.headers.emplace_back(std::string(line.substr(0, colon)), std::string(trimmed(line.substr(colon + 1))));
  }
  return parsed;
}

std::string serializeHead(int status, const LoopbackHeaders& headers, std::size_t contentLength, bool close) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
  for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(contentLength) + "\r\n";
  if (close) out += "Connection: close\r\n";
  out += "\r\n";
  return out;
}

void sendPlain(int fd, int status) {
  sendAll(fd, serializeHead(status, {}, 0, true));
}

}  // namespace

std::string LoopbackRequest::header(std::string_view name) const { return headerValue(headers, name); }

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
  auto [fd, port] = bindLoopback();
  listenSocket_ = fd;
  port_ = port;
  if (::listen(listenSocket_, 64) != 0) {
    ::close(listenSocket_);
    throwErrno("listen");
  }
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
    ::close(listenSocket_);
    throwErrno("pipe2");
  }
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Wakes every connection thread blocked in recv; their sockets close themselves.
    for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
  }
  stopSignal_.notify_all();
  const char wake = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakePipe_[1], &wake, 1);
  acceptThread_.join();
  // The accept thread has ended, so the list no longer grows.
  for (auto& thread : connectionThreads_) thread.join();
  ::close(listenSocket_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

std::string LoopbackHttpServer::url(std::string_view path) const { return loopbackUrl(port_, path); }

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

void LoopbackHttpServer::acceptLoop() {
  while (true) {
    pollfd fds[2] = {{listenSocket_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN)) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    openSockets_.push_back(fd);
    connectionThreads_.emplace_back([this, fd] { serveConnection(fd); });
  }
}

bool LoopbackHttpServer::waitUnlessStopping(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  if (delay.count() < 0) {
    stopSignal_.wait(lock, [this] { return stopping_; });
    return false;
  }
  return !stopSignal_.wait_for(lock, delay, [this] { return stopping_; });
}

void LoopbackHttpServer::serveConnection(int fd) {
  ConnectionReader reader(fd);
  while (true) {
    bool tooLarge = false;
    auto head = reader.readHead(tooLarge);
    if (!head) {
      if (tooLarge) sendPlain(fd, 431);
      break;
    }
    auto parsed = parseHead(*head);
    if (!parsed) {
      sendPlain(fd, 400);
      break;
    }
    LoopbackRequest& request = parsed->request;
    if (!request.header("Transfer-Encoding").empty()) {
      sendPlain(fd, 501);  // request bodies are read by Content-Length only
      break;
    }
    std::size_t length = 0;
    const std::string lengthText = request.header("Content-Length");
    if (!lengthText.empty()) {
      const auto [end, error] = std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
      if (error != std::errc() || end != lengthText.data() + lengthText.size()) {
        sendPlain(fd, 400);
        break;
      }
      if (length > kMaxBodyBytes) {
        sendPlain(fd, 413);
        break;
      }
    }
    auto body = reader.readBody(length);
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

    if (response.delay.count() > 0 && !waitUnlessStopping(response.delay)) break;
    using Delivery = LoopbackResponse::Delivery;
    if (response.delivery == Delivery::holdForever) {
      waitUnlessStopping(std::chrono::milliseconds(-1));
      break;
    }
    if (response.delivery == Delivery::closeWithoutAnswer) break;

    const bool truncate = response.delivery == Delivery::truncateBody;
    const bool close = truncate || lowered(request.header("Connection")).find("close") != std::string::npos ||
                       parsed->version == "HTTP/1.0";
    std::string out = serializeHead(response.status, response.headers, response.body.size(), close);
    if (request.method != "HEAD") out += truncate ? response.body.substr(0, response.body.size() / 2) : response.body;
    if (!sendAll(fd, out) || close) break;
  }
  std::lock_guard lock(mutex_);
  openSockets_.erase(std::remove(openSockets_.begin(), openSockets_.end(), fd), openSockets_.end());
  ::close(fd);
}

RefusingLoopbackPort::RefusingLoopbackPort() {
  auto [fd, port] = bindLoopback();
  socket_ = fd;
  port_ = port;
}

RefusingLoopbackPort::~RefusingLoopbackPort() { ::close(socket_); }

std::string RefusingLoopbackPort::url(std::string_view path) const { return loopbackUrl(port_, path); }

}  // namespace sorvane::testing
