#include "postprocess/morse_cipher.h"

#include <array>
#include <utility>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"

namespace sorvane::MorseCipher {
namespace {

// International Morse code (ITU-R M.1677-1) plus the exclamation mark, with ASCII dots.
constexpr std::array<std::pair<char, std::string_view>, 49> kLatin{{
    {'A', ".-"},     {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},    {'E', "."},
    {'F', "..-."},   {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},
    {'K', "-.-"},    {'L', ".-.."},   {'M', "--"},     {'N', "-."},     {'O', "---"},
    {'P', ".--."},   {'Q', "--.-"},   {'R', ".-."},    {'S', "..."},    {'T', "-"},
    {'U', "..-"},    {'V', "...-"},   {'W', ".--"},    {'X', "-..-"},   {'Y', "-.--"},
    {'Z', "--.."},   {'0', "-----"},  {'1', ".----"},  {'2', "..---"},  {'3', "...--"},
    {'4', "....-"},  {'5', "....."},  {'6', "-...."},  {'7', "--..."},  {'8', "---.."},
    {'9', "----."},  {'.', ".-.-.-"}, {',', "--..--"}, {'?', "..--.."}, {':', "---..."},
    {';', "-.-.-."}, {'-', "-....-"}, {'/', "-..-."},  {'\'', ".----."}, {'"', ".-..-."},
    {'(', "-.--."},  {')', "-.--.-"}, {'@', ".--.-."}, {'!', "-.-.--"},
}};

constexpr std::string_view kDot = "\u00B7";

std::string render(std::string_view ascii) {
  std::string out;
  for (char symbol : ascii) {
    if (symbol == '.') {
      out += kDot;
    } else {
      out += '-';
    }
  }
  return out;
}

std::string bytesToken(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (i > 0) out += ' ';
    const auto byte = static_cast<unsigned char>(utf8[i]);
    for (int bit = 7; bit >= 0; --bit) {
      if ((byte >> bit) & 1) {
        out += '-';
      } else {
        out += kDot;
      }
    }
  }
  return out;
}

std::string_view lookup(UChar32 c) {
  const UChar32 upper = u_toupper(c);
  if (upper < 0 || upper > 0x7f) return {};
  for (const auto& [key, code] : kLatin) {
    if (key == static_cast<char>(upper)) return code;
  }
  return {};
}

}  // namespace

std::string encode(std::string_view value) {
  const std::string normalized = TextNormalizer::normalizeInput(value);
  if (normalized.empty()) return {};
  std::string out;
  // One token per user-perceived character: "👍🏽" or a decomposed "é" is one token.
  for (const std::string& cluster : text::graphemeClusters(normalized)) {
    if (!out.empty()) out += " / ";
    const auto* bytes = reinterpret_cast<const uint8_t*>(cluster.data());
    const auto length = static_cast<int32_t>(cluster.size());
    int32_t next = 0;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    const bool single = next == length;
    if (c >= 0 && text::isWhiteSpace(c)) {
      out += '/';
    } else if (auto code = c >= 0 && single ? lookup(c) : std::string_view{}; !code.empty()) {
      out += render(code);
    } else {
      out += bytesToken(cluster);
    }
  }
  return out;
}

}  // namespace sorvane::MorseCipher
