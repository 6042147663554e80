// How AT-SPI's answers become the AX-shaped answers of the accessibility port: role names,
// window identifiers and text offsets. Pure functions and values, any thread; the
// adapter (atspi_accessibility.h) applies them to what libatspi and the X server say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/input_context.h"

namespace sorvane::platform {

// A screen as Qt lays it out: its geometry in Qt's logical pixels, X's orientation (y
// down), and how many device pixels one logical pixel covers. Qt keeps each screen's
// top-left where X has it and scales from there.
struct ScreenScale {
  Rect logical;
  double ratio = 1;
};

// A rectangle in X device pixels (what AT-SPI and the X server report) in Qt's logical
// pixels, still y down: scaled about the top-left of the screen that holds its centre.
// Outside every screen, or on an unscaled one, it is returned as it is.
Rect deviceToLogical(const Rect& device, const std::vector<ScreenScale>& screens);

struct AXRoleNames {
  std::string_view role;
  std::string_view subrole;  // empty when there is none
};

// The AX role and subrole for an AT-SPI role name (as `atspi_role_get_name` spells it:
// "push button", "text", "document web"...). Text roles are "AXTextArea" when the element
// is multi-line, else "AXTextField"; unknown roles are "AXUnknown".
AXRoleNames axRoleFor(std::string_view atspiRoleName, bool multiLine);

// An element marked focused, as the focused-element search met it.
struct FocusedCandidate {
  int depth = 0;          // levels below the element searched from
  bool editable = false;  // state editable, or a text role
};

// Which of the elements marked focused holds the focus. Toolkits mark more than one: Qt
// marks the current page tab, the text and the text's viewport. The editable ones come
// first and among them the deepest (the field, not an editable document around it);
// without any, the first met. Index into `candidates` (in the order met); absent when
// empty.
std::optional<std::size_t> preferredFocused(const std::vector<FocusedCandidate>& candidates);

// The identifier of a top-level window: its GTK application id, else its KDE desktop
// file (without ".desktop"), else its window class (else instance), lower-case; empty
// when the window names none of them.
std::string windowIdentifier(std::string_view gtkApplicationID, std::string_view kdeDesktopFile,
                             std::string_view wmClassInstance, std::string_view wmClass);

// The text of an AT-SPI text element as the port shows it: AT-SPI counts characters
// (code points) and marks embedded objects (links, images inside web text) with U+FFFC;
// the port counts UTF-16 units of the text without those marks. Some toolkits (Qt) count
// their offsets in UTF-16 units instead: `offsetsAreUtf16`.
class AtspiTextMap {
 public:
  explicit AtspiTextMap(std::string_view atspiText, bool offsetsAreUtf16 = false);

  // The text without embedded-object marks (invalid UTF-8 replaced).
  const std::string& text() const { return text_; }
  // The number of AT-SPI offsets (characters, or UTF-16 units).
  int64_t characterCount() const { return static_cast<int64_t>(utf16AtCharacter_.size()) - 1; }
  // UTF-16 offset in `text()` of AT-SPI offset `offset` (clamped).
  int64_t utf16Offset(int64_t characterOffset) const;
  // AT-SPI character offset of UTF-16 offset `offset` of `text()` (clamped; an offset
  // inside a surrogate pair or at a removed mark goes to the character that holds it).
  int64_t characterOffset(int64_t utf16Offset) const;

 private:
  std::string text_;
  // For each AT-SPI offset 0...count, the UTF-16 offset in text_.
  std::vector<int64_t> utf16AtCharacter_;
};

}  // namespace sorvane::platform
