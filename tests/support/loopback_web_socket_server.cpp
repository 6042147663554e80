#include "support/loopback_web_socket_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>

#include "core/base64.h"

namespace sorvane::testing {
namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxFrameBytes = 16 * 1024 * 1024;
constexpr std::chrono::milliseconds kCloseReplyWait{1000};

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

bool sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// SHA-1 (FIPS 180-4), only for the handshake's accept key.
std::string sha1(std::string_view input) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::string data(input);
  const uint64_t bitLength = static_cast<uint64_t>(input.size()) * 8;
  data.push_back(static_cast<char>(0x80));
  while (data.size() % 64 != 56) data.push_back('\0');
  for (int i = 7; i >= 0; --i) data.push_back(static_cast<char>((bitLength >> (i * 8)) & 0xFF));
  auto rotl = [](uint32_t v, int n) { return (v << n) | (v >> (32 - n)); };
  for (std::size_t block = 0; block < data.size(); block += 64) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      w[i] = (uint32_t(uint8_t(data[block + 4 * i])) << 24) | (uint32_t(uint8_t(data[block + 4 * i + 1])) << 16) |
             (uint32_t(uint8_t(data[block + 4 * i + 2])) << 8) | uint32_t(uint8_t(data[block + 4 * i + 3]));
    }
    for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      uint32_t f, k;
      if (i < 20) {
        f = (b & c) | (~b & d), k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d, k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d, k = 0xCA62C1D6;
      }
      const uint32_t t = rotl(a, 5) + f + e + k + w[i];
      e = d, d = c, c = rotl(b, 30), b = a, a = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  std::string digest;
  for (uint32_t v : h) {
    for (int i = 3; i >= 0; --i) digest.push_back(static_cast<char>((v >> (i * 8)) & 0xFF));
  }
  return digest;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// Buffered reads from one connection; waits at most `limit` for data when one is set.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}

  std::optional<std::string> readHead() {
    while (true) {
      const auto end = buffer_.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::string head = buffer_.substr(0, end);
        buffer_.erase(0, end + 4);
        return head;
      }
      if (buffer_.size() > kMaxHeadBytes || !fill(std::nullopt)) return std::nullopt;
    }
  }

  std::optional<std::string> read(std::size_t count, std::optional<std::chrono::milliseconds> limit) {
    while (buffer_.size() < count) {
      if (!fill(limit)) return std::nullopt;
    }
    std::string out = buffer_.substr(0, count);
    buffer_.erase(0, count);
    return out;
  }

 private:
  bool fill(std::optional<std::chrono::milliseconds> limit) {
    if (limit) {
      pollfd fds{fd_, POLLIN, 0};
      if (::poll(&fds, 1, static_cast<int>(limit->count())) <= 0) return false;
    }
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

struct Frame {
  bool fin = true;
  int opcode = 0;
  std::string payload;
};

std::optional<Frame> readFrame(Reader& reader, std::optional<std::chrono::milliseconds> limit) {
  auto head = reader.read(2, limit);
  if (!head) return std::nullopt;
  Frame frame;
  frame.fin = (uint8_t((*head)[0]) & 0x80) != 0;
  frame.opcode = uint8_t((*head)[0]) & 0x0F;
  const bool masked = (uint8_t((*head)[1]) & 0x80) != 0;
  uint64_t length = uint8_t((*head)[1]) & 0x7F;
  if (length == 126 || length == 127) {
    const std::size_t bytes = length == 126 ? 2 : 8;
    auto extended = reader.read(bytes, limit);
    if (!extended) return std::nullopt;
    length = 0;
    for (char c : *extended) length = (length << 8) | uint8_t(c);
  }
  if (length > kMaxFrameBytes) return std::nullopt;
  std::string mask = "\0\0\0\0";
  if (masked) {
    auto key = reader.read(4, limit);
    if (!key) return std::nullopt;
    mask = *key;
  }
  auto payload = reader.read(static_cast<std::size_t>(length), limit);
  if (!payload) return std::nullopt;
  for (std::size_t i = 0; i < payload->size(); ++i) (*payload)[i] = static_cast<char>((*payload)[i] ^ mask[i % 4]);
  frame.payload = std::move(*payload);
  return frame;
}

std::string closePayload(int code, std::string_view reason) {
  std::string payload;
  payload.push_back(static_cast<char>((code >> 8) & 0xFF));
  payload.push_back(static_cast<char>(code & 0xFF));
  payload.append(reason);
  return payload;
}

}  // namespace

std::string webSocketAcceptKey(std::string_view clientKey) {
  return base64Encode(sha1(std::string(clientKey) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"));
}

std::string webSocketFrame(int opcode, std::string_view payload, bool fin) {
  std::string frame;
  frame.push_back(static_cast<char>((fin ? 0x80 : 0) | (opcode & 0x0F)));
  if (payload.size() < 126) {
    frame.push_back(static_cast<char>(payload.size()));
  } else if (payload.size() <= 0xFFFF) {
    frame.push_back(126);
    frame.push_back(static_cast<char>((payload.size() >> 8) & 0xFF));
    frame.push_back(static_cast<char>(payload.size() & 0xFF));
  } else {
    frame.push_back(127);
    for (int i = 7; i >= 0; --i) frame.push_back(static_cast<char>((uint64_t(payload.size()) >> (i * 8)) & 0xFF));
  }
  frame.append(payload);
  return frame;
}

std::string WebSocketHandshake::header(std::string_view name) const {
  const std::string wanted = lowered(name);
  for (const auto& [key, value] : headers) {
    if (lowered(key) == wanted) return value;
  }
  return {};
}

class LoopbackWebSocketServer::Peer final : public LoopbackWebSocketPeer {
 public:
  Peer(LoopbackWebSocketServer& server, int fd, std::size_t index) : server_(server), fd_(fd), index_(index) {}

  void sendText(std::string_view text) override { write(webSocketFrame(1, text)); }
  void sendBinary(std::string_view bytes) override { write(webSocketFrame(2, bytes)); }
  void sendRaw(std::string_view bytes) override { write(bytes); }
  void close(int code, std::string_view reason) override {
    if (closing_.exchange(true)) return;
    write(webSocketFrame(8, closePayload(code, reason)));
  }
  void drop() override {
    dropped_ = true;
    ::shutdown(fd_, SHUT_RDWR);
  }
  bool pause(std::chrono::milliseconds delay) override { return server_.waitUnlessStopping(delay); }
  std::size_t index() const override { return index_; }

  bool closing() const { return closing_; }
  bool dropped() const { return dropped_; }

 private:
  void write(std::string_view bytes) {
    std::lock_guard lock(writeMutex_);
    if (!dropped_) sendAll(fd_, bytes);
  }

  LoopbackWebSocketServer& server_;
  int fd_;
  std::size_t index_;
  std::mutex writeMutex_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> dropped_{false};
};

LoopbackWebSocketServer::LoopbackWebSocketServer(Handlers handlers) : handlers_(std::move(handlers)) {
  listenSocket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenSocket_ < 0) throwErrno("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(listenSocket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::listen(listenSocket_, 16) != 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
    const int saved = errno;
    ::close(listenSocket_);
    errno = saved;
    throwErrno("listen");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackWebSocketServer::~LoopbackWebSocketServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
  }
  stopSignal_.notify_all();
  const char wake = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakePipe_[1], &wake, 1);
  acceptThread_.join();
  for (auto& thread : threads_) thread.join();
  ::close(listenSocket_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

std::string LoopbackWebSocketServer::url(std::string_view path) const {
  return "ws://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<WebSocketHandshake> LoopbackWebSocketServer::handshakes() const {
  std::lock_guard lock(mutex_);
  return handshakes_;
}

std::vector<ReceivedWebSocketMessage> LoopbackWebSocketServer::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::size_t LoopbackWebSocketServer::messageCount() const {
  std::lock_guard lock(mutex_);
  return messages_.size();
}

std::vector<int> LoopbackWebSocketServer::closeCodes() const {
  std::lock_guard lock(mutex_);
  return closeCodes_;
}

bool LoopbackWebSocketServer::waitUnlessStopping(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  return !stopSignal_.wait_for(lock, delay, [this] { return stopping_; });
}

void LoopbackWebSocketServer::acceptLoop() {
  while (true) {
    pollfd fds[2] = {{listenSocket_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int fd = ::accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    openSockets_.push_back(fd);
    const std::size_t index = connectionCount_++;
    threads_.emplace_back([this, fd, index] { serve(fd, index); });
  }
}

void LoopbackWebSocketServer::serve(int fd, std::size_t index) {
  auto finish = [&] {
    std::lock_guard lock(mutex_);
    std::erase(openSockets_, fd);
    ::close(fd);
  };
  Reader reader(fd);
  auto head = reader.readHead();
  if (!head) return finish();

  WebSocketHandshake handshake;
  std::string_view rest = *head;
  auto lineEnd = rest.find("\r\n");
  const std::string_view requestLine = rest.substr(0, lineEnd);
  rest = lineEnd == std::string_view::npos ? std::string_view() : rest.substr(lineEnd + 2);
  const auto firstSpace = requestLine.find(' ');
  const auto lastSpace = requestLine.rfind(' ');
  if (firstSpace != std::string_view::npos && lastSpace > firstSpace) {
    handshake.path = std::string(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
  }
  while (!rest.empty()) {
    lineEnd = rest.find("\r\n");
    const std::string_view line = rest.substr(0, lineEnd);
    rest = lineEnd == std::string_view::npos ? std::string_view() : rest.substr(lineEnd + 2);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    handshake.headers.emplace_back(std::string(line.substr(0, colon)), std::string(trimmed(line.substr(colon + 1))));
  }
  {
    std::lock_guard lock(mutex_);
    handshakes_.push_back(handshake);
  }

  const HandshakeAnswer answer = handlers_.onHandshake ? handlers_.onHandshake(handshake) : HandshakeAnswer{};
  if (answer.delay.count() > 0 && !waitUnlessStopping(answer.delay)) return finish();
  if (answer.status != 101) {
    const std::string body = R"({"error":"rejected"})";
    sendAll(fd, "HTTP/1.1 " + std::to_string(answer.status) + " " + reasonPhrase(answer.status) +
                    "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\nConnection: close\r\n\r\n" + body);
    return finish();
  }
  sendAll(fd, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: " + webSocketAcceptKey(handshake.header("Sec-WebSocket-Key")) + "\r\n\r\n");

  Peer peer(*this, fd, index);
  if (handlers_.onOpen) handlers_.onOpen(peer);
  std::string assembling;
  bool assemblingBinary = false;
  while (!peer.dropped()) {
    auto frame = readFrame(reader, peer.closing() ? std::optional(kCloseReplyWait) : std::nullopt);
    if (!frame) break;
    if (frame->opcode == 8) {
      const int code = frame->payload.size() >= 2 ? (uint8_t(frame->payload[0]) << 8) | uint8_t(frame->payload[1]) : 1005;
      {
        std::lock_guard lock(mutex_);
        closeCodes_.push_back(code);
      }
      if (!peer.closing()) peer.close(code, {});
      break;
    }
    if (frame->opcode == 9) {
      peer.sendRaw(webSocketFrame(10, frame->payload));
      continue;
    }
    if (frame->opcode == 10) continue;
    if (frame->opcode == 1 || frame->opcode == 2) {
      assembling.clear();
      assemblingBinary = frame->opcode == 2;
    }
    assembling += frame->payload;
    if (!frame->fin) continue;
    ReceivedWebSocketMessage message{assemblingBinary, std::move(assembling)};
    assembling.clear();
    {
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
    }
    if (handlers_.onMessage && !peer.closing()) handlers_.onMessage(peer, message);
  }
  finish();
}

}  // namespace sorvane::testing
