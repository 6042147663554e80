// The accessibility port: the few operations the context collector (and the edit
// observer, which re-reads the focused field) need from the desktop's accessibility tree.
//
// The operations are shaped after the AX attribute model the collector's rules are
// written in: an element is an opaque handle; attributes are read one at a time; text
// ranges count UTF-16 units of the element's value; element rectangles come in
// accessibility space (origin at the top-left of the desktop, y growing downwards), while
// screens and the mouse are in desktop space (origin bottom-left, y growing upwards), the
// space every placement formula of the HUD uses. An adapter maps its platform onto this
// (AT-SPI: src/platform/linux/atspi_accessibility.h); tests use the fake tree of
// tests/support/fake_accessibility.h.
//
// Every call may block on another process. Adapters bound each call by the timeout last
// given to `setCallTimeout`; a call that fails, times out or finds a value of another
// type answers absent (std::nullopt, a null element, an empty list), never an error.
// All calls are made on the "app.sorvane.context" queue; adapters may refuse others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/input_context.h"
#include "core/dispatch.h"

namespace sorvane {

// Chromium-based browsers and Electron applications put their web content on the AT-SPI
// bus only when started with this switch; the desktop's accessibility setting does not
// reach them.
inline constexpr std::string_view kRendererAccessibilitySwitch = "--force-renderer-accessibility";

// Base of the adapters' element types; the port only passes handles back to the adapter
// that made them.
struct AXObject {
  virtual ~AXObject() = default;
};
using AXElement = std::shared_ptr<const AXObject>;

struct AXTextRange {
  int64_t location = 0;
  int64_t length = 0;
  friend bool operator==(const AXTextRange&, const AXTextRange&) = default;
};

struct AXPoint {
  double x = 0;
  double y = 0;
};

struct AXSize {
  double width = 0;
  double height = 0;
};

// Attributes whose value is one element; both are read from the application element.
enum class AXElementAttribute { focusedUIElement, focusedWindow };
// Attributes whose value is text.
enum class AXStringAttribute { role, subrole, title, value, selectedText, description, help };
// Attributes whose value is a list of elements.
enum class AXListAttribute { children, contents, visibleChildren };

struct FrontmostApplication {
  std::string name;
  // The application's identifier as the classification tables know it (on Linux the
  // desktop-file id or the window class, lower-case).
  std::string identifier;
  int64_t processID = 0;
  // The focused window's title as the window system gives it: the only title there is
  // for a window whose application exposes no accessibility tree.
  std::string windowTitle;
};

// What a browser's accessibility tree says about the page in front.
struct BrowserPage {
  std::string url;
  std::string title;
  // The focused node inside the page is editable (or the document is in design mode).
  bool editableFocused = false;
  // The focus is inside the page at all (not in the browser's own toolbar).
  bool documentFocused = false;
};

class Accessibility {
 public:
  virtual ~Accessibility() = default;

  virtual std::optional<FrontmostApplication> frontmostApplication() = 0;
  // The accessibility element of `application`; null when the application exposes none.
  virtual AXElement applicationElement(const FrontmostApplication& application) = 0;

  virtual AXElement copyElement(const AXElement& element, AXElementAttribute attribute) = 0;
  virtual std::optional<std::string> copyString(const AXElement& element, AXStringAttribute attribute) = 0;
  // "AXSelectedTextRange": the selection, or the caret as an empty range.
  virtual std::optional<AXTextRange> copySelectedTextRange(const AXElement& element) = 0;
  virtual std::optional<AXPoint> copyPosition(const AXElement& element) = 0;
  virtual std::optional<AXSize> copySize(const AXElement& element) = 0;
  // At most `limit` elements of the list, in order.
  virtual std::vector<AXElement> copyElements(const AXElement& element, AXListAttribute attribute,
                                              std::size_t limit) = 0;
  // Whether "AXValue" may be set; absent when the query itself failed.
  virtual std::optional<bool> isValueSettable(const AXElement& element) = 0;
  // "AXBoundsForRange" as the platform answers it, in accessibility space; the caller
  // decides whether the rectangle is usable.
  virtual std::optional<Rect> boundsForRange(const AXElement& element, AXTextRange range) = 0;
  // The page of a browser window, from its accessibility tree; absent when the window
  // shows no document.
  virtual std::optional<BrowserPage> browserPage(const AXElement& application, const AXElement& window,
                                                 const AXElement& focused) = 0;

  // Screen frames in desktop space, in the platform's order; the main screen is the one
  // with keyboard focus or the primary one.
  virtual std::vector<Rect> screens() = 0;
  virtual std::optional<Rect> mainScreen() = 0;
  // The part of `screen` (a frame `screens()` gave) that the desktop's panels and docks
  // leave free, in desktop space; absent when the desktop says nothing (the whole screen).
  virtual std::optional<Rect> workArea(const Rect& screen) = 0;
  virtual std::optional<AXPoint> mouseLocation() = 0;

  // Bounds every following call: each answers within `timeout` or counts as absent.
  virtual void setCallTimeout(Milliseconds timeout) = 0;
};

}  // namespace sorvane
