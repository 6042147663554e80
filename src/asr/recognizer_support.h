// Small pieces the realtime recogniser clients share: logging without the key and with
// bounded server text, and the JSON form of frames on the wire. Pure.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/json.h"

namespace sorvane {

// `message` with every occurrence of `secret` (when non-empty) replaced by "<redacted>".
std::string redactSecret(std::string_view message, std::string_view secret);
// Untrusted text for a log line: valid UTF-8, at most `maxChars` characters, "…" when cut.
std::string boundedForLog(std::string_view text, std::size_t maxChars);
// Compact JSON for a frame; invalid UTF-8 is replaced rather than failing.
std::string wireJson(const Json& value);

}  // namespace sorvane
