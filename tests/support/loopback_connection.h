// One connection of the loopback servers (HTTP and WebSocket), as seen by the thread that
// serves it: buffered reads, whole writes, and the HTTP/1.1 request head both servers
// read first and the plain response head both can answer with.
//
// Reads may run on the serving thread while other threads send; sends are not ordered
// among themselves, so a caller that sends from several threads serialises them. Header
// names compare case-insensitively (ASCII).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvane::testing {

using LoopbackHeaders = std::vector<std::pair<std::string, std::string>>;

class LoopbackConnection {
 public:
  // A request head larger than this without its blank line is refused.
  static constexpr std::size_t kMaxHeadBytes = 64 * 1024;

  explicit LoopbackConnection(int socket) : socket_(socket) {}

  int socket() const { return socket_; }

  // The header section without its blank line; nothing on close, error or when it grows
  // past kMaxHeadBytes (then `tooLarge`, when given, is set).
  std::optional<std::string> readHead(bool* tooLarge = nullptr);
  // Exactly `count` bytes; nothing on close or error, or when `limit` (if any) passes
  // without data arriving.
  std::optional<std::string> read(std::size_t count, std::optional<std::chrono::milliseconds> limit = std::nullopt);
  // False when the connection is gone before everything was written.
  bool send(std::string_view bytes);

 private:
  bool fill(std::optional<std::chrono::milliseconds> limit);

  int socket_;
  std::string buffer_;  // may hold the start of what follows the last read
};

// A request head split into its request line and its header fields (values trimmed).
// `wellFormed` is false when the request line lacks one of its three parts or a header
// line lacks its name or colon; a line without a colon is left out, the rest is kept.
struct LoopbackRequestHead {
  std::string method;
  std::string target;  // with the query, as it appeared on the request line
  std::string version;
  LoopbackHeaders headers;
  bool wellFormed = true;
};
LoopbackRequestHead parseRequestHead(std::string_view head);

// Case-insensitive; empty when absent.
std::string headerValue(const LoopbackHeaders& headers, std::string_view name);
std::string asciiLowered(std::string_view text);

// "HTTP/1.1 <status> <reason>", the headers, Content-Length, "Connection: close" when
// `close`, and the blank line.
std::string httpResponseHead(int status, const LoopbackHeaders& headers, std::size_t contentLength, bool close);

}  // namespace sorvane::testing
