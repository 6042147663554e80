// What the pieces of the AT-SPI accessibility adapter share; callers use
// atspi_accessibility.h. The adapter's session (bus, main context, request budget, X server,
// screens, frontmost application) is in atspi_accessibility.cpp, the tree walk and the reads
// remembered on elements in atspi_accessibility_tree.cpp, and the answers in the port's own
// values in atspi_accessibility_values.cpp.
//
// Internal to the adapter. Everything here runs on the context queue the adapter was made
// with, except the screen snapshot, which Qt feeds on the main thread.
#pragma once

// libatspi and glib first: their headers use names that Qt's keywords would rewrite. Every
// piece of the adapter includes this header before anything else.
#include <atspi/atspi.h>
#include <xcb/xcb.h>

#include "platform/linux/atspi_accessibility.h"

#include <QObject>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "context/context_collector.h"
#include "platform/linux/atspi_mapping.h"

class QScreen;

namespace sorvane::platform::atspi_detail {

using SteadyClock = std::chrono::steady_clock;

struct ErrorSlot {
  GError* error = nullptr;
  ~ErrorSlot() {
    if (error) g_error_free(error);
  }
  GError** out() {
    if (error) g_clear_error(&error);
    return &error;
  }
  bool failed() const { return error != nullptr; }
};

inline std::string takeString(gchar* value) {
  if (!value) return {};
  std::string out(value);
  g_free(value);
  return out;
}

// Screens as Qt sees them, copied on the main thread whenever they change, read from the
// context queue.
class ScreenSnapshot {
 public:
  ScreenSnapshot();

  struct Frames {
    std::vector<Rect> screens;  // desktop space
    std::vector<Rect> workAreas;  // of each screen, in the same order (Qt's available geometry)
    std::optional<Rect> main;
    double desktopHeight = 0;  // the primary screen's bottom in X coordinates: where y turns
    // Qt's layout of the screens, to bring X's device pixels into Qt's logical ones (a
    // scaled desktop).
    std::vector<ScreenScale> scales;
  };
  Frames read() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  void follow(QScreen* screen);
  void refresh();

  QObject receiver_;
  mutable std::mutex mutex_;
  Frames frames_;
};

struct AtspiElement final : AXObject {
  explicit AtspiElement(AtspiAccessible* adopted) : object(adopted) {}
  ~AtspiElement() override {
    if (object) g_object_unref(object);
  }
  AtspiElement(const AtspiElement&) = delete;
  AtspiElement& operator=(const AtspiElement&) = delete;

  AtspiAccessible* object;
  // What this collection has read already (handles live for one collection).
  mutable std::optional<AtspiRole> role;
  mutable std::optional<std::bitset<ATSPI_STATE_LAST_DEFINED>> states;
  mutable bool textRead = false;
  mutable std::optional<AtspiTextMap> text;
  mutable bool extentsRead = false;
  mutable std::optional<Rect> extents;
  // Application elements: the window and focused element found in them.
  mutable bool windowSearched = false;
  mutable AXElement window;
  mutable bool focusSearched = false;
  mutable AXElement focused;
};

inline const AtspiElement* native(const AXElement& element) { return dynamic_cast<const AtspiElement*>(element.get()); }

inline AXElement wrap(AtspiAccessible* adopted) {
  if (!adopted) return nullptr;
  return std::make_shared<AtspiElement>(adopted);
}

struct XWindowFacts {
  int64_t pid = 0;
  std::string title;
  std::string gtkApplicationID;
  std::string kdeDesktopFile;
  std::string wmInstance;
  std::string wmClass;
};

class AtspiAccessibility final : public Accessibility {
 public:
  explicit AtspiAccessibility(SerialQueue& contextQueue);
  ~AtspiAccessibility() override;

  std::optional<FrontmostApplication> frontmostApplication() override;
  AXElement applicationElement(const FrontmostApplication& application) override;
  AXElement copyElement(const AXElement& element, AXElementAttribute attribute) override;
  std::optional<std::string> copyString(const AXElement& element, AXStringAttribute attribute) override;
  std::optional<AXTextRange> copySelectedTextRange(const AXElement& element) override;
  std::optional<AXPoint> copyPosition(const AXElement& element) override;
  std::optional<AXSize> copySize(const AXElement& element) override;
  std::vector<AXElement> copyElements(const AXElement& element, AXListAttribute attribute, std::size_t limit) override;
  std::optional<bool> isValueSettable(const AXElement& element) override;
  std::optional<Rect> boundsForRange(const AXElement& element, AXTextRange range) override;
  std::optional<BrowserPage> browserPage(const AXElement& application, const AXElement& window,
                                         const AXElement& focused) override;
  std::vector<Rect> screens() override { return screens_.read().screens; }
  std::optional<Rect> mainScreen() override { return screens_.read().main; }
  std::optional<Rect> workArea(const Rect& screen) override;
  std::optional<AXPoint> mouseLocation() override;
  void setCallTimeout(Milliseconds timeout) override {
    deadline_ = SteadyClock::now() + std::min(timeout, kContextCollectionBudget);
  }

 private:
  bool onQueue();
  bool ready();
  // Every libatspi call that may reach another process asks here first.
  bool request();

  // --- X server ---
  bool connectX();
  xcb_atom_t atom(const char* name);
  std::string property(xcb_window_t window, xcb_atom_t name, uint32_t maxLongs = 1024);
  std::optional<XWindowFacts> activeWindow();

  // --- AT-SPI reads, remembered on the element for this collection ---
  std::optional<AtspiRole> role(const AtspiElement& element);
  const std::optional<std::bitset<ATSPI_STATE_LAST_DEFINED>>& states(const AtspiElement& element);
  bool hasState(const AtspiElement& element, AtspiStateType state) {
    const auto& set = states(element);
    return set && set->test(state);
  }
  const std::optional<AtspiTextMap>& textOf(const AtspiElement& element);
  const std::optional<Rect>& extentsOf(const AtspiElement& element);
  std::vector<AXElement> children(const AtspiElement& element, std::size_t limit);
  AXElement parent(const AtspiElement& element);
  AXElement findWindow(const AtspiElement& application);
  AXElement findFocused(const AtspiElement& root);
  AXElement findFocusedByCollection(const AtspiElement& root);
  // Whether a focused element is one to type into: state editable, or a text role.
  bool isEditableOrText(const AtspiElement& element);
  // Levels from `root` down to `element` (the ancestor bound when `root` is not above it).
  int depthBelow(const AXElement& element, const AtspiElement& root);
  bool isDocument(const AtspiElement& element);

  SerialQueue& queue_;
  ScreenSnapshot screens_;
  SteadyClock::time_point deadline_ = SteadyClock::time_point::max();
  enum class Bus { unknown, ready, unavailable } bus_ = Bus::unknown;
  GMainContext* ownMainContext_ = nullptr;
  bool offQueueLogged_ = false;

  xcb_connection_t* x_ = nullptr;
  xcb_window_t root_ = 0;
  bool xFailed_ = false;
  std::vector<std::pair<std::string, xcb_atom_t>> atoms_;

  AXElement lastApplication_;
  int64_t lastApplicationPid_ = 0;
  // Qt's bridge counts text offsets in UTF-16 units, not characters.
  bool utf16Offsets_ = false;
  std::string lastWindowTitle_;
};

}  // namespace sorvane::platform::atspi_detail
