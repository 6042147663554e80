// What the turn controller's three source files share: small text helpers and the weak
// callback wrapper. Private to turn_controller*.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "core/dispatch.h"
#include "core/unicode_text.h"

namespace sorvane::turn_detail {

inline const char* boolText(bool value) { return value ? "true" : "false"; }

inline constexpr std::string_view kMorseProvider = "local-morse-cipher";

inline int64_t chars(std::string_view s) { return static_cast<int64_t>(text::graphemeCount(s)); }

// A one-argument callback that does nothing once the token's owner is gone.
template <typename Arg, typename F>
std::function<void(Arg)> weakly(const LivenessToken& token, F f) {
  return [weak = token.weak(), f = std::move(f)](Arg arg) mutable {
    if (weak.lock()) f(std::move(arg));
  };
}

}  // namespace sorvane::turn_detail
