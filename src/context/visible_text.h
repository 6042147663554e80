// The whitespace rules of visible text: CR LF becomes LF, each run of tabs and spaces one
// space, and three or more line feeds two (at most one empty line in a row).
//
// The context collector applies them to the text it reads from a window, and
// `InputContext::synthetic` to the visible text it is handed, so that both carry the same
// shape. Pure functions, any queue. Internal to the context layer.
#pragma once

#include <string>
#include <string_view>

#include "core/regex.h"

namespace sorvane {

// The rules in the order they run.
const RuleTable& visibleTextWhitespaceRules();

// `text` with the rules applied, then trimmed.
std::string normalizeVisibleText(std::string_view text);

}  // namespace sorvane
