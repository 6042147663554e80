#include "net/web_socket.h"

#include <cctype>
#include <charconv>

namespace sorvane {
namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool isHostChar(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_'; }

}  // namespace

std::optional<WebSocketURL> parseWebSocketURL(std::string_view url) {
  for (unsigned char c : url) {
    if (c <= 0x20 || c == 0x7F) return std::nullopt;
  }
  WebSocketURL out;
  if (startsWithNoCase(url, "wss://")) {
    out.secure = true;
    url.remove_prefix(6);
  } else if (startsWithNoCase(url, "ws://")) {
    url.remove_prefix(5);
  } else {
    return std::nullopt;
  }
  const std::size_t pathStart = url.find_first_of("/?#");
  std::string_view authority = url.substr(0, pathStart);
  std::string_view rest = pathStart == std::string_view::npos ? std::string_view() : url.substr(pathStart);
  if (authority.find('@') != std::string_view::npos) return std::nullopt;  // no user info
  std::string_view portText;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host = std::string(authority.substr(1, close - 1));
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      hasPort = true;
      portText = after.substr(1);
    }
    if (out.host.empty() || out.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
      return std::nullopt;
    }
  } else {
    const std::size_t colon = authority.find(':');
    out.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      hasPort = true;
      portText = authority.substr(colon + 1);
    }
    if (out.host.empty()) return std::nullopt;
    for (unsigned char c : out.host) {
      if (!isHostChar(c)) return std::nullopt;
    }
  }
  out.port = out.secure ? 443 : 80;
  if (hasPort) {
    int port = 0;
    auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || port <= 0 ||
        port > 65535) {
      return std::nullopt;
    }
    out.port = port;
  }
  if (rest.find('#') != std::string_view::npos) rest = rest.substr(0, rest.find('#'));
  out.pathAndQuery = rest.empty() ? "/" : (rest.front() == '?' ? "/" + std::string(rest) : std::string(rest));
  return out;
}

bool isLoopbackHost(std::string_view host) {
  std::string lower;
  for (unsigned char c : host) lower.push_back(static_cast<char>(std::tolower(c)));
  if (lower == "localhost" || lower == "::1") return true;
  // 127.x.y.z with four decimal parts.
  if (!lower.starts_with("127.")) return false;
  int parts = 0;
  std::size_t start = 0;
  while (start <= lower.size()) {
    const std::size_t dot = lower.find('.', start);
    const std::string_view part =
        std::string_view(lower).substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    int value = -1;
    auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || error != std::errc() || end != part.data() + part.size() || value > 255) return false;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

}  // namespace sorvane
