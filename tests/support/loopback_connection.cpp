#include "support/loopback_connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace sorvane::testing {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The next line of `rest` without its CR LF; `rest` moves past it.
std::string_view nextLine(std::string_view& rest) {
  const auto end = rest.find("\r\n");
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
  return line;
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

}  // namespace

std::optional<std::string> LoopbackConnection::readHead(bool* tooLarge) {
  if (tooLarge) *tooLarge = false;
  while (true) {
    const auto end = buffer_.find("\r\n\r\n");
    if (end != std::string::npos) {
      std::string head = buffer_.substr(0, end);
      buffer_.erase(0, end + 4);
      return head;
    }
    if (buffer_.size() > kMaxHeadBytes) {
      if (tooLarge) *tooLarge = true;
      return std::nullopt;
    }
    if (!fill(std::nullopt)) return std::nullopt;
  }
}

std::optional<std::string> LoopbackConnection::read(std::size_t count, std::optional<std::chrono::milliseconds> limit) {
  while (buffer_.size() < count) {
    if (!fill(limit)) return std::nullopt;
  }
  std::string out = buffer_.substr(0, count);
  buffer_.erase(0, count);
  return out;
}

bool LoopbackConnection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool LoopbackConnection::fill(std::optional<std::chrono::milliseconds> limit) {
  if (limit) {
    pollfd fds{socket_, POLLIN, 0};
    if (::poll(&fds, 1, static_cast<int>(limit->count())) <= 0) return false;
  }
  char chunk[16 * 1024];
  while (true) {
    const ssize_t received = ::recv(socket_, chunk, sizeof(chunk), 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(received));
    return true;
  }
}

LoopbackRequestHead parseRequestHead(std::string_view head) {
  LoopbackRequestHead parsed;
  const std::string_view requestLine = nextLine(head);
  const auto firstSpace = requestLine.find(' ');
  const auto lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
    parsed.wellFormed = false;
  } else {
    parsed.method = std::string(requestLine.substr(0, firstSpace));
    parsed.target = std::string(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
    parsed.version = std::string(requestLine.substr(lastSpace + 1));
  }
  while (!head.empty()) {
    const std::string_view line = nextLine(head);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) parsed.wellFormed = false;
    if (colon == std::string_view::npos) continue;
    parsed.headers.emplace_back(std::string(line.substr(0, colon)), std::string(trimmed(line.substr(colon + 1))));
  }
  return parsed;
}

std::string asciiLowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string headerValue(const LoopbackHeaders& headers, std::string_view name) {
  const std::string wanted = asciiLowered(name);
  for (const auto& [key, value] : headers) {
    if (asciiLowered(key) == wanted) return value;
  }
  return {};
}

std::string httpResponseHead(int status, const LoopbackHeaders& headers, std::size_t contentLength, bool close) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
  for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(contentLength) + "\r\n";
  if (close) out += "Connection: close\r\n";
  out += "\r\n";
  return out;
}

}  // namespace sorvane::testing
