// Standard Base64 (RFC 4648, with padding) for bytes that travel inside JSON text, such
// as the audio chunks of the realtime recogniser protocol. Pure; safe on any queue.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

std::string base64Encode(std::string_view bytes);
// Nothing when `text` is not padded standard Base64 (white space is not skipped).
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace sorvane
