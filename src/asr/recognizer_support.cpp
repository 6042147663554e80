#include "asr/recognizer_support.h"

#include "core/unicode_text.h"

namespace sorvane {

std::string redactSecret(std::string_view message, std::string_view secret) {
  if (secret.empty()) return std::string(message);
  return text::replaceLiteral(message, secret, "<redacted>");
}

std::string boundedForLog(std::string_view textIn, std::size_t maxChars) {
  // Cut the bytes first so that a huge frame costs nothing to count; 16 bytes per
  // character leaves room for the longest clusters a server would send.
  const std::size_t byteLimit = maxChars * 16;
  const bool cutBytes = textIn.size() > byteLimit;
  const std::string clean = text::sanitizeUtf8(cutBytes ? textIn.substr(0, byteLimit) : textIn);
  if (!cutBytes && text::graphemeCount(clean) <= maxChars) return clean;
  return text::graphemePrefix(clean, maxChars) + "…";
}

std::string wireJson(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace sorvane
