#include "platform/linux/atspi_mapping.h"

#include <algorithm>
#include <iterator>

#include <unicode/utf8.h>

#include "core/unicode_text.h"

namespace sorvane::platform {
namespace {

constexpr std::string_view kTextRoleMarker = "<text>";

struct RoleRow {
  std::string_view atspi;
  std::string_view role;  // kTextRoleMarker: single- or multi-line text
  std::string_view subrole;
};

// The AX names the context rules test ("AXTextField", "AXTextArea", "AXStaticText",
// "AXWebArea", "AXGroup", "AXScrollArea", "AXList", "AXRow", "AXCell"...), for the AT-SPI
// roles toolkits and browsers use. Containers that carry text in browsers (paragraphs,
// sections) are groups, as web content is on the other platform.
constexpr RoleRow kRoleTable[] = {
    {"text", kTextRoleMarker, ""},
    {"entry", "AXTextField", ""},
    {"password text", "AXTextField", "AXSecureTextField"},
    {"editbar", "AXTextField", ""},
    {"autocomplete", "AXComboBox", ""},
    {"terminal", "AXTextArea", "AXTerminal"},
    {"document text", "AXTextArea", ""},
    {"document web", "AXWebArea", ""},
    {"document frame", "AXWebArea", ""},
    {"document email", "AXWebArea", ""},
    {"html container", "AXWebArea", ""},
    {"label", "AXStaticText", ""},
    {"static", "AXStaticText", ""},
    {"caption", "AXStaticText", ""},
    {"accelerator label", "AXStaticText", ""},
    {"description term", "AXStaticText", ""},
    {"description value", "AXStaticText", ""},
    {"footnote", "AXStaticText", ""},
    {"comment", "AXGroup", "AXTextComment"},
    {"paragraph", "AXGroup", ""},
    {"section", "AXGroup", ""},
    {"block quote", "AXGroup", ""},
    {"article", "AXGroup", "AXDocumentArticle"},
    {"form", "AXGroup", ""},
    {"landmark", "AXGroup", "AXLandmark"},
    {"panel", "AXGroup", ""},
    {"filler", "AXGroup", ""},
    {"grouping", "AXGroup", ""},
    {"log", "AXGroup", "AXApplicationLog"},
    {"notification", "AXGroup", "AXApplicationAlert"},
    {"info bar", "AXGroup", ""},
    {"status bar", "AXGroup", ""},
    {"header", "AXGroup", ""},
    {"footer", "AXGroup", ""},
    {"description list", "AXList", ""},
    {"scroll pane", "AXScrollArea", ""},
    {"viewport", "AXScrollArea", ""},
    {"list", "AXList", ""},
    {"list box", "AXList", ""},
    {"list item", "AXRow", ""},
    {"table row", "AXRow", ""},
    {"tree item", "AXRow", ""},
    {"table cell", "AXCell", ""},
    {"table", "AXTable", ""},
    {"tree", "AXOutline", ""},
    {"tree table", "AXOutline", ""},
    {"heading", "AXHeading", ""},
    {"link", "AXLink", ""},
    {"image", "AXImage", ""},
    {"icon", "AXImage", ""},
    {"push button", "AXButton", ""},
    {"push button menu", "AXMenuButton", ""},
    {"toggle button", "AXCheckBox", "AXToggle"},
    {"check box", "AXCheckBox", ""},
    {"radio button", "AXRadioButton", ""},
    {"combo box", "AXComboBox", ""},
    {"spin button", "AXIncrementor", ""},
    {"slider", "AXSlider", ""},
    {"progress bar", "AXProgressIndicator", ""},
    {"scroll bar", "AXScrollBar", ""},
    {"split pane", "AXSplitGroup", ""},
    {"page tab list", "AXTabGroup", ""},
    {"page tab", "AXRadioButton", "AXTabButton"},
    {"tool bar", "AXToolbar", ""},
    {"menu bar", "AXMenuBar", ""},
    {"menu", "AXMenu", ""},
    {"menu item", "AXMenuItem", ""},
    {"frame", "AXWindow", "AXStandardWindow"},
    {"dialog", "AXWindow", "AXDialog"},
    {"window", "AXWindow", ""},
    {"application", "AXApplication", ""},
};

}  // namespace

AXRoleNames axRoleFor(std::string_view atspiRoleName, bool multiLine) {
  const auto* row = std::find_if(std::begin(kRoleTable), std::end(kRoleTable),
                                [&](const RoleRow& r) { return r.atspi == atspiRoleName; });
  if (row == std::end(kRoleTable)) return {"AXUnknown", ""};
  if (row->role == kTextRoleMarker) return {multiLine ? "AXTextArea" : "AXTextField", row->subrole};
  return {row->role, row->subrole};
}

std::optional<std::size_t> preferredFocused(const std::vector<FocusedCandidate>& candidates) {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (!best) {
      best = i;
      continue;
    }
    const FocusedCandidate& current = candidates[*best];
    const FocusedCandidate& next = candidates[i];
    if (next.editable != current.editable) {
      if (next.editable) best = i;
    } else if (next.editable && next.depth > current.depth) {
      best = i;
    }
  }
  return best;
}

std::string windowIdentifier(std::string_view gtkApplicationID, std::string_view kdeDesktopFile,
                             std::string_view wmClassInstance, std::string_view wmClass) {
  std::string_view chosen = text::trim(gtkApplicationID).empty() ? std::string_view{} : gtkApplicationID;
  if (chosen.empty() && !text::trim(kdeDesktopFile).empty()) {
    chosen = kdeDesktopFile;
    if (text::endsWith(chosen, ".desktop")) chosen.remove_suffix(std::string_view(".desktop").size());
  }
  if (chosen.empty()) chosen = !text::trim(wmClass).empty() ? wmClass : wmClassInstance;
  return text::toLower(text::trim(chosen));
}

AtspiTextMap::AtspiTextMap(std::string_view atspiText, bool offsetsAreUtf16) {
  const std::string clean = text::sanitizeUtf8(atspiText);
  text_.reserve(clean.size());
  utf16AtCharacter_.reserve(clean.size() + 1);
  int64_t utf16 = 0;
  int32_t i = 0;
  const auto length = static_cast<int32_t>(clean.size());
  while (i < length) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(clean.data(), i, length, c);
    utf16AtCharacter_.push_back(utf16);
    if (c == 0xFFFC) continue;
    if (offsetsAreUtf16 && U16_LENGTH(c) == 2) utf16AtCharacter_.push_back(utf16 + 1);
    text_.append(clean, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
    utf16 += U16_LENGTH(c);
  }
  utf16AtCharacter_.push_back(utf16);
}

int64_t AtspiTextMap::utf16Offset(int64_t characterOffset) const {
  const int64_t clamped = std::clamp<int64_t>(characterOffset, 0, characterCount());
  return utf16AtCharacter_[static_cast<std::size_t>(clamped)];
}

int64_t AtspiTextMap::characterOffset(int64_t utf16Offset) const {
  // The last character whose UTF-16 start is at or before the offset; past a removed mark
  // (same start as the next character) the later one.
  const auto it = std::upper_bound(utf16AtCharacter_.begin(), utf16AtCharacter_.end(), utf16Offset);
  if (it == utf16AtCharacter_.begin()) return 0;
  return std::min<int64_t>(std::distance(utf16AtCharacter_.begin(), it) - 1, characterCount());
}

Rect deviceToLogical(const Rect& device, const std::vector<ScreenScale>& screens) {
  const double cx = device.x + device.width / 2, cy = device.y + device.height / 2;
  for (const ScreenScale& screen : screens) {
    if (screen.ratio <= 0 || screen.ratio == 1) continue;
    const Rect& g = screen.logical;
    // The screen's extent in device pixels: the same top-left, the size times the ratio.
    if (cx < g.x || cy < g.y || cx >= g.x + g.width * screen.ratio || cy >= g.y + g.height * screen.ratio) continue;
    return {g.x + (device.x - g.x) / screen.ratio, g.y + (device.y - g.y) / screen.ratio, device.width / screen.ratio,
            device.height / screen.ratio};
  }
  return device;
}

}  // namespace sorvane::platform
