#include "support/loopback_web_socket_server.h"

#include <sys/socket.h>

#include <atomic>
#include <optional>

#include "core/base64.h"

namespace sorvane::testing {
namespace {

constexpr std::size_t kMaxFrameBytes = 16 * 1024 * 1024;
constexpr std::chrono::milliseconds kCloseReplyWait{1000};

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

struct Frame {
  bool fin = true;
  int opcode = 0;
  std::string payload;
};

std::optional<Frame> readFrame(LoopbackConnection& connection, std::optional<std::chrono::milliseconds> limit) {
  auto head = connection.read(2, limit);
  if (!head) return std::nullopt;
  Frame frame;
  frame.fin = (uint8_t((*head)[0]) & 0x80) != 0;
  frame.opcode = uint8_t((*head)[0]) & 0x0F;
  const bool masked = (uint8_t((*head)[1]) & 0x80) != 0;
  uint64_t length = uint8_t((*head)[1]) & 0x7F;
  if (length == 126 || length == 127) {
    const std::size_t bytes = length == 126 ? 2 : 8;
    auto extended = connection.read(bytes, limit);
    if (!extended) return std::nullopt;
    length = 0;
    for (char c : *extended) length = (length << 8) | uint8_t(c);
  }
  if (length > kMaxFrameBytes) return std::nullopt;
  std::string mask = "\0\0\0\0";
  if (masked) {
    auto key = connection.read(4, limit);
    if (!key) return std::nullopt;
    mask = *key;
  }
  auto payload = connection.read(static_cast<std::size_t>(length), limit);
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

std::string WebSocketHandshake::header(std::string_view name) const { return headerValue(headers, name); }

class LoopbackWebSocketServer::Peer final : public LoopbackWebSocketPeer {
 public:
  Peer(LoopbackWebSocketServer& server, LoopbackConnection& connection, std::size_t index)
      : server_(server), connection_(connection), index_(index) {}

  void sendText(std::string_view text) override { write(webSocketFrame(1, text)); }
  void sendBinary(std::string_view bytes) override { write(webSocketFrame(2, bytes)); }
  void sendRaw(std::string_view bytes) override { write(bytes); }
  void close(int code, std::string_view reason) override {
    if (closing_.exchange(true)) return;
    write(webSocketFrame(8, closePayload(code, reason)));
  }
  void drop() override {
    dropped_ = true;
    ::shutdown(connection_.socket(), SHUT_RDWR);
  }
  bool pause(std::chrono::milliseconds delay) override { return server_.listener_.waitUnlessStopping(delay); }
  std::size_t index() const override { return index_; }

  bool closing() const { return closing_; }
  bool dropped() const { return dropped_; }

 private:
  void write(std::string_view bytes) {
    std::lock_guard lock(writeMutex_);
    if (!dropped_) connection_.send(bytes);
  }

  LoopbackWebSocketServer& server_;
  LoopbackConnection& connection_;
  std::size_t index_;
  std::mutex writeMutex_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> dropped_{false};
};

LoopbackWebSocketServer::LoopbackWebSocketServer(Handlers handlers)
    : handlers_(std::move(handlers)), listener_([this](int fd, std::size_t index) { serve(fd, index); }) {}

LoopbackWebSocketServer::~LoopbackWebSocketServer() { listener_.stop(); }

std::string LoopbackWebSocketServer::url(std::string_view path) const {
  return "ws://127.0.0.1:" + std::to_string(port()) + std::string(path);
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

void LoopbackWebSocketServer::serve(int fd, std::size_t index) {
  LoopbackConnection connection(fd);
  auto head = connection.readHead();
  if (!head) return;

  // Lenient: whatever parsed is recorded, and the handshake handler decides.
  LoopbackRequestHead parsed = parseRequestHead(*head);
  const WebSocketHandshake handshake{std::move(parsed.target), std::move(parsed.headers)};
  {
    std::lock_guard lock(mutex_);
    handshakes_.push_back(handshake);
  }

  const HandshakeAnswer answer = handlers_.onHandshake ? handlers_.onHandshake(handshake) : HandshakeAnswer{};
  if (answer.delay.count() > 0 && !listener_.waitUnlessStopping(answer.delay)) return;
  if (answer.status != 101) {
    const std::string body = R"({"error":"rejected"})";
    connection.send(httpResponseHead(answer.status, {{"Content-Type", "application/json"}}, body.size(), true) + body);
    return;
  }
  connection.send("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Accept: " + webSocketAcceptKey(handshake.header("Sec-WebSocket-Key")) + "\r\n\r\n");

  Peer peer(*this, connection, index);
  if (handlers_.onOpen) handlers_.onOpen(peer);
  std::string assembling;
  bool assemblingBinary = false;
  while (!peer.dropped()) {
    auto frame = readFrame(connection, peer.closing() ? std::optional(kCloseReplyWait) : std::nullopt);
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
}

}  // namespace sorvane::testing
