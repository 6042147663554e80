// The whitespace rules of visible text (visible_text.h).
#include "context/visible_text.h"

#include <array>

#include "core/unicode_text.h"

namespace sorvane {

const RuleTable& visibleTextWhitespaceRules() {
  static const RuleTable rules{std::array<ReplaceRule, 3>{{
      {"\\r\\n", "\n"},
      {"[\\t ]+", " "},
      {"\\n{3,}", "\n\n"},
  }}};
  return rules;
}

std::string normalizeVisibleText(std::string_view text) { return text::trim(visibleTextWhitespaceRules().apply(text)); }

}  // namespace sorvane
