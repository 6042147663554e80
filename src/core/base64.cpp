#include "core/base64.h"

#include <array>
#include <cstdint>

namespace sorvane {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> decodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}

constexpr std::array<int8_t, 256> kDecode = decodeTable();

}  // namespace

std::string base64Encode(std::string_view bytes) {
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  char* o = out.data();
  const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
    *o++ = kAlphabet[(v >> 18) & 63];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = uint32_t(in[i]) << 16;
    if (rest == 2) v |= uint32_t(in[i + 1]) << 8;
    *o++ = kAlphabet[(v >> 18) & 63];
    *o++ = kAlphabet[(v >> 12) & 63];
    if (rest == 2) *o++ = kAlphabet[(v >> 6) & 63];
  }
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int values[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        ++padding;
        values[k] = 0;
        continue;
      }
      if (padding > 0) return std::nullopt;  // data after padding
      values[k] = kDecode[static_cast<unsigned char>(c)];
      if (values[k] < 0) return std::nullopt;
    }
    const uint32_t v = (uint32_t(values[0]) << 18) | (uint32_t(values[1]) << 12) | (uint32_t(values[2]) << 6) | uint32_t(values[3]);
    out.push_back(static_cast<char>((v >> 16) & 0xFF));
    if (padding < 2) out.push_back(static_cast<char>((v >> 8) & 0xFF));
    if (padding < 1) out.push_back(static_cast<char>(v & 0xFF));
  }
  return out;
}

}  // namespace sorvane
