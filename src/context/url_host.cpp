#include "context/url_host.h"

#include <algorithm>
#include <cctype>

namespace sorvane {
namespace {

bool isSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// Characters that may not appear in a registered host name: controls, space and the
// delimiters a URL parser rejects in hosts.
bool isForbiddenHostChar(unsigned char c) {
  if (c <= 0x20 || c == 0x7f) return true;
  switch (c) {
    case '<': case '>': case '"': case '\\': case '^': case '`': case '{': case '}':
    case '|': case '[': case ']': case '%':
      return true;
    default:
      return false;
  }
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace

std::string urlHost(std::string_view url) {
  // Surrounding white space is what a pasted or probed URL commonly carries.
  while (!url.empty() && std::isspace(static_cast<unsigned char>(url.front()))) url.remove_prefix(1);
  while (!url.empty() && std::isspace(static_cast<unsigned char>(url.back()))) url.remove_suffix(1);

  const auto colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return {};
  for (std::size_t i = 1; i < colon; ++i) {
    if (!isSchemeChar(url[i])) return {};
  }
  std::string_view rest = url.substr(colon + 1);
  if (rest.substr(0, 2) != "//") return {};
  rest.remove_prefix(2);

  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  // The user information ends at the last '@' of the authority.
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }

  std::string_view host;
  std::string_view afterHost;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return {};
    host = authority.substr(0, close + 1);
    const std::string_view inner = host.substr(1, host.size() - 2);
    if (inner.empty()) return {};
    for (char c : inner) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return {};
    }
    afterHost = authority.substr(close + 1);
  } else {
    const auto portColon = authority.find(':');
    host = authority.substr(0, portColon);
    afterHost = portColon == std::string_view::npos ? std::string_view{} : authority.substr(portColon);
    for (char c : host) {
      if (isForbiddenHostChar(static_cast<unsigned char>(c))) return {};
    }
  }
  if (!afterHost.empty()) {
    if (afterHost.front() != ':') return {};
    for (char c : afterHost.substr(1)) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return {};
    }
  }
  return asciiLower(host);
}

}  // namespace sorvane
