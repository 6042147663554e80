// libatspi and glib first: their headers use names that Qt's keywords would rewrite.
#include <atspi/atspi.h>
#include <xcb/xcb.h>

#include "platform/linux/atspi_accessibility.h"

#include <QGuiApplication>
#include <QObject>
#include <QScreen>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "context/context_collector.h"
#include "core/log.h"
#include "core/unicode_text.h"
#include "platform/linux/atspi_mapping.h"

namespace sorvane::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::atomic<std::size_t> gRequests{0};

// The most elements looked at while searching the focused element without the
// Collection interface, the window among an application's children, and a browser's
// document when the focus is outside it.
constexpr std::size_t kFocusSearchLimit = 2000;
constexpr std::size_t kWindowSearchLimit = 64;
constexpr std::size_t kDocumentSearchLimit = 400;
constexpr int kAncestorLimit = 64;
constexpr int kXParentLimit = 16;

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

std::string takeString(gchar* value) {
  if (!value) return {};
  std::string out(value);
  g_free(value);
  return out;
}

// Screens as Qt sees them, copied on the main thread whenever they change, read from the
// context queue.
class ScreenSnapshot {
 public:
  ScreenSnapshot() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return;
    QObject::connect(app, &QGuiApplication::screenAdded, &receiver_, [this](QScreen* screen) {
      follow(screen);
      refresh();
    });
    QObject::connect(app, &QGuiApplication::screenRemoved, &receiver_, [this](QScreen*) { refresh(); });
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, &receiver_, [this](QScreen*) { refresh(); });
    for (QScreen* screen : QGuiApplication::screens()) follow(screen);
    refresh();
  }

  struct Frames {
    std::vector<Rect> screens;  // desktop space
    std::optional<Rect> main;
    double desktopHeight = 0;  // the bottom of the virtual desktop in X coordinates
  };
  Frames read() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  void follow(QScreen* screen) {
    QObject::connect(screen, &QScreen::geometryChanged, &receiver_, [this](const QRect&) { refresh(); });
  }
  void refresh() {
    Frames frames;
    const auto screens = QGuiApplication::screens();
    for (QScreen* screen : screens) {
      const QRect g = screen->geometry();
      frames.desktopHeight = std::max<double>(frames.desktopHeight, g.y() + g.height());
    }
    auto flip = [&](const QRect& g) {
      return Rect{double(g.x()), frames.desktopHeight - g.y() - g.height(), double(g.width()), double(g.height())};
    };
    for (QScreen* screen : screens) frames.screens.push_back(flip(screen->geometry()));
    if (QScreen* primary = QGuiApplication::primaryScreen()) frames.main = flip(primary->geometry());
    std::lock_guard lock(mutex_);
    frames_ = std::move(frames);
  }

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

const AtspiElement* native(const AXElement& element) { return dynamic_cast<const AtspiElement*>(element.get()); }

AXElement wrap(AtspiAccessible* adopted) {
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
  explicit AtspiAccessibility(SerialQueue& contextQueue) : queue_(contextQueue) {}
  ~AtspiAccessibility() override {
    lastApplication_.reset();
    if (x_) xcb_disconnect(x_);
    if (ownMainContext_) g_main_context_unref(ownMainContext_);
  }

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

bool AtspiAccessibility::onQueue() {
  if (queue_.isCurrent()) return true;
  if (!offQueueLogged_) {
    offQueueLogged_ = true;
    appLog("accessibility call refused reason=off-context-queue");
  }
  return false;
}

bool AtspiAccessibility::ready() {
  if (bus_ != Bus::unknown) return bus_ == Bus::ready;
  bus_ = Bus::unavailable;
  // Without a session bus libdbus would try to autolaunch one; there is no accessibility
  // bus to find then anyway.
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !std::getenv("AT_SPI_BUS_ADDRESS")) {
    appLog("accessibility unavailable reason=no-session-bus");
    return false;
  }
  const int status = atspi_init();
  if (status != 0 && status != 1) {
    appLog("accessibility unavailable reason=atspi-init status=" + std::to_string(status));
    return false;
  }
  // D-Bus traffic of libatspi is dispatched where its calls are made: on this queue.
  GMainContext* context = g_main_context_get_thread_default();
  if (!context) context = ownMainContext_ = g_main_context_new();
  atspi_set_main_context(context);
  bus_ = Bus::ready;
  return true;
}

bool AtspiAccessibility::request() {
  const auto left = std::chrono::ceil<Milliseconds>(deadline_ - SteadyClock::now());
  if (left <= Milliseconds::zero()) return false;
  atspi_set_timeout(static_cast<gint>(std::min(left, kContextCollectionBudget).count()), -1);
  ++gRequests;
  return true;
}

// ---------------------------------------------------------------------------
// X server

bool AtspiAccessibility::connectX() {
  if (x_) return true;
  if (xFailed_) return false;
  int screenNumber = 0;
  x_ = xcb_connect(nullptr, &screenNumber);
  if (!x_ || xcb_connection_has_error(x_)) {
    if (x_) xcb_disconnect(x_);
    x_ = nullptr;
    xFailed_ = true;
    appLog("accessibility unavailable reason=no-x-server");
    return false;
  }
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(x_));
  for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
  root_ = roots.data ? roots.data->root : 0;
  return root_ != 0;
}

xcb_atom_t AtspiAccessibility::atom(const char* name) {
  for (const auto& [known, value] : atoms_) {
    if (known == name) return value;
  }
  auto cookie = xcb_intern_atom(x_, 0, static_cast<uint16_t>(std::strlen(name)), name);
  xcb_atom_t value = XCB_ATOM_NONE;
  if (auto* reply = xcb_intern_atom_reply(x_, cookie, nullptr)) {
    value = reply->atom;
    free(reply);
  }
  atoms_.emplace_back(name, value);
  return value;
}

std::string AtspiAccessibility::property(xcb_window_t window, xcb_atom_t name, uint32_t maxLongs) {
  if (name == XCB_ATOM_NONE) return {};
  auto cookie = xcb_get_property(x_, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, maxLongs);
  auto* reply = xcb_get_property_reply(x_, cookie, nullptr);
  if (!reply) return {};
  // The value's length is given in bytes.
  std::string value(static_cast<const char*>(xcb_get_property_value(reply)),
                    static_cast<std::size_t>(std::max(0, xcb_get_property_value_length(reply))));
  free(reply);
  return value;
}

std::optional<XWindowFacts> AtspiAccessibility::activeWindow() {
  if (!connectX()) return std::nullopt;
  xcb_window_t window = 0;
  const std::string active = property(root_, atom("_NET_ACTIVE_WINDOW"), 1);
  if (active.size() >= 4) std::memcpy(&window, active.data(), 4);
  if (window == 0) {
    // No window manager keeps _NET_ACTIVE_WINDOW: the window with the input focus.
    if (auto* focus = xcb_get_input_focus_reply(x_, xcb_get_input_focus(x_), nullptr)) {
      window = focus->focus;
      free(focus);
    }
  }
  if (window == XCB_NONE || window == XCB_INPUT_FOCUS_POINTER_ROOT || window == root_) return std::nullopt;

  // The client window is the nearest one (toward the root) that names its process.
  XWindowFacts facts;
  xcb_window_t client = window;
  for (int level = 0; level < kXParentLimit; ++level) {
    const std::string pid = property(client, atom("_NET_WM_PID"), 1);
    if (pid.size() >= 4) {
      uint32_t value = 0;
      std::memcpy(&value, pid.data(), 4);
      facts.pid = value;
      break;
    }
    auto* tree = xcb_query_tree_reply(x_, xcb_query_tree(x_, client), nullptr);
    if (!tree) break;
    const xcb_window_t parent = tree->parent;
    free(tree);
    if (parent == 0 || parent == root_) break;
    client = parent;
  }
  if (facts.pid == 0) client = window;
  const std::string wmClass = property(client, XCB_ATOM_WM_CLASS);
  const auto split = wmClass.find('\0');
  facts.wmInstance = wmClass.substr(0, split);
  if (split != std::string::npos) facts.wmClass = std::string(wmClass.c_str() + split + 1);
  facts.gtkApplicationID = property(client, atom("_GTK_APPLICATION_ID"));
  facts.kdeDesktopFile = property(client, atom("_KDE_NET_WM_DESKTOP_FILE"));
  facts.title = property(client, atom("_NET_WM_NAME"));
  if (facts.title.empty()) facts.title = property(client, XCB_ATOM_WM_NAME);
  for (std::string* value : {&facts.wmInstance, &facts.gtkApplicationID, &facts.kdeDesktopFile, &facts.title}) {
    if (auto end = value->find('\0'); end != std::string::npos) value->resize(end);
  }
  return facts;
}

std::optional<AXPoint> AtspiAccessibility::mouseLocation() {
  if (!onQueue() || !connectX()) return std::nullopt;
  auto* pointer = xcb_query_pointer_reply(x_, xcb_query_pointer(x_, root_), nullptr);
  if (!pointer) return std::nullopt;
  const AXPoint location{double(pointer->root_x), screens_.read().desktopHeight - pointer->root_y};
  free(pointer);
  return location;
}

// ---------------------------------------------------------------------------
// Elements

std::optional<AtspiRole> AtspiAccessibility::role(const AtspiElement& element) {
  if (!element.role && request()) {
    ErrorSlot error;
    const AtspiRole value = atspi_accessible_get_role(element.object, error.out());
    if (!error.failed()) element.role = value;
  }
  return element.role;
}

const std::optional<std::bitset<ATSPI_STATE_LAST_DEFINED>>& AtspiAccessibility::states(const AtspiElement& element) {
  if (!element.states && request()) {
    AtspiStateSet* set = atspi_accessible_get_state_set(element.object);
    if (set) {
      std::bitset<ATSPI_STATE_LAST_DEFINED> bits;
      if (GArray* list = atspi_state_set_get_states(set)) {
        for (guint i = 0; i < list->len; ++i) {
          const auto state = g_array_index(list, AtspiStateType, i);
          if (state >= 0 && state < ATSPI_STATE_LAST_DEFINED) bits.set(state);
        }
        g_array_free(list, TRUE);
      }
      g_object_unref(set);
      // An element that is gone answers with the DEFUNCT state only.
      if (!bits.test(ATSPI_STATE_DEFUNCT)) element.states = bits;
    }
  }
  return element.states;
}

const std::optional<AtspiTextMap>& AtspiAccessibility::textOf(const AtspiElement& element) {
  if (element.textRead) return element.text;
  if (!request()) return element.text;  // not remembered: a later collection may try
  element.textRead = true;
  AtspiText* text = atspi_accessible_get_text_iface(element.object);
  if (!text) return element.text;
  ErrorSlot error;
  gint count = 0;
  if (request()) count = atspi_text_get_character_count(text, error.out());
  if (!error.failed() && count >= 0 && request()) {
    std::string value = takeString(atspi_text_get_text(text, 0, count, error.out()));
    if (!error.failed()) element.text.emplace(value, utf16Offsets_);
  }
  g_object_unref(text);
  return element.text;
}

const std::optional<Rect>& AtspiAccessibility::extentsOf(const AtspiElement& element) {
  if (element.extentsRead || !request()) return element.extents;
  element.extentsRead = true;
  AtspiComponent* component = atspi_accessible_get_component_iface(element.object);
  if (!component || !request()) {
    if (component) g_object_unref(component);
    return element.extents;
  }
  ErrorSlot error;
  AtspiRect* r = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, error.out());
  if (r && !error.failed()) element.extents = Rect{double(r->x), double(r->y), double(r->width), double(r->height)};
  g_free(r);
  g_object_unref(component);
  return element.extents;
}

std::vector<AXElement> AtspiAccessibility::children(const AtspiElement& element, std::size_t limit) {
  std::vector<AXElement> out;
  if (!request()) return out;
  ErrorSlot error;
  const gint count = atspi_accessible_get_child_count(element.object, error.out());
  if (error.failed() || count <= 0) return out;
  for (gint i = 0; i < count && out.size() < limit && request(); ++i) {
    AtspiAccessible* child = atspi_accessible_get_child_at_index(element.object, i, error.out());
    if (error.failed()) {
      if (child) g_object_unref(child);
      continue;
    }
    if (auto wrapped = wrap(child)) out.push_back(std::move(wrapped));
  }
  return out;
}

AXElement AtspiAccessibility::parent(const AtspiElement& element) {
  if (!request()) return nullptr;
  ErrorSlot error;
  AtspiAccessible* up = atspi_accessible_get_parent(element.object, error.out());
  if (error.failed()) {
    if (up) g_object_unref(up);
    return nullptr;
  }
  return wrap(up);
}

AXElement AtspiAccessibility::findWindow(const AtspiElement& application) {
  if (application.windowSearched) return application.window;
  application.windowSearched = true;
  // Top-level windows are the application's children (a Qt top-level widget shows as a
  // filler, not a frame, so any child counts). The active one, else the one titled as the
  // X window, else the first that shows.
  const auto windows = children(application, kWindowSearchLimit);
  auto pick = [&](auto&& test) -> AXElement {
    for (const auto& window : windows) {
      if (test(*native(window))) return window;
    }
    return nullptr;
  };
  AXElement window = pick([&](const AtspiElement& w) { return hasState(w, ATSPI_STATE_ACTIVE); });
  if (!window && !lastWindowTitle_.empty()) {
    window = pick([&](const AtspiElement& w) {
      if (!request()) return false;
      return takeString(atspi_accessible_get_name(w.object, nullptr)) == lastWindowTitle_;
    });
  }
  if (!window) window = pick([&](const AtspiElement& w) { return hasState(w, ATSPI_STATE_SHOWING); });
  if (!window && windows.size() == 1) window = windows.front();
  application.window = window;
  return window;
}

AXElement AtspiAccessibility::findFocusedByCollection(const AtspiElement& root) {
  if (!request()) return nullptr;
  AtspiCollection* collection = atspi_accessible_get_collection_iface(root.object);
  if (!collection) return nullptr;
  AXElement found;
  AtspiStateSet* focused = atspi_state_set_new(nullptr);
  atspi_state_set_add(focused, ATSPI_STATE_FOCUSED);
  AtspiMatchRule* rule = atspi_match_rule_new(focused, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                              nullptr, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                              FALSE);
  if (request()) {
    ErrorSlot error;
    GArray* matches =
        atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, error.out());
    if (matches) {
      for (guint i = 0; i < matches->len; ++i) {
        AtspiAccessible* match = g_array_index(matches, AtspiAccessible*, i);
        if (!found && !error.failed()) {
          found = wrap(match);
        } else if (match) {
          g_object_unref(match);
        }
      }
      g_array_free(matches, TRUE);
    }
  }
  g_object_unref(rule);
  g_object_unref(focused);
  g_object_unref(collection);
  return found;
}

AXElement AtspiAccessibility::findFocused(const AtspiElement& root) {
  if (auto found = findFocusedByCollection(root)) return found;
  // Toolkits without the Collection interface (Qt): a breadth-first search through what
  // is showing.
  std::deque<AXElement> queue;
  for (auto& child : children(root, kFocusSearchLimit)) queue.push_back(std::move(child));
  for (std::size_t seen = 0; seen < kFocusSearchLimit && !queue.empty(); ++seen) {
    AXElement element = std::move(queue.front());
    queue.pop_front();
    const AtspiElement& node = *native(element);
    const auto& set = states(node);
    if (!set) continue;
    if (set->test(ATSPI_STATE_FOCUSED)) return element;
    if (!set->test(ATSPI_STATE_SHOWING)) continue;
    const std::size_t room = kFocusSearchLimit - seen;
    if (queue.size() >= room) continue;
    for (auto& child : children(node, room - queue.size())) queue.push_back(std::move(child));
  }
  return nullptr;
}

bool AtspiAccessibility::isDocument(const AtspiElement& element) {
  const auto r = role(element);
  return r && (*r == ATSPI_ROLE_DOCUMENT_WEB || *r == ATSPI_ROLE_DOCUMENT_FRAME);
}

// ---------------------------------------------------------------------------
// The port

std::optional<FrontmostApplication> AtspiAccessibility::frontmostApplication() {
  if (!onQueue()) return std::nullopt;
  lastApplication_.reset();
  lastApplicationPid_ = 0;
  utf16Offsets_ = false;
  const auto window = activeWindow();
  if (!window) return std::nullopt;
  FrontmostApplication application;
  application.identifier =
      windowIdentifier(window->gtkApplicationID, window->kdeDesktopFile, window->wmInstance, window->wmClass);
  application.processID = window->pid;
  application.name = !window->wmClass.empty() ? window->wmClass : window->wmInstance;
  lastWindowTitle_ = window->title;
  if (window->pid <= 0 || !ready() || !request()) return application;

  AtspiAccessible* desktop = atspi_get_desktop(0);
  if (!desktop) return application;
  ErrorSlot error;
  const gint count = atspi_accessible_get_child_count(desktop, error.out());
  for (gint i = 0; i < count && !lastApplication_ && request(); ++i) {
    AXElement app = wrap(atspi_accessible_get_child_at_index(desktop, i, error.out()));
    if (!app || error.failed() || !request()) continue;
    const guint pid = atspi_accessible_get_process_id(native(app)->object, error.out());
    if (!error.failed() && static_cast<int64_t>(pid) == window->pid) lastApplication_ = app;
  }
  g_object_unref(desktop);
  if (lastApplication_) {
    lastApplicationPid_ = window->pid;
    if (request()) {
      utf16Offsets_ = takeString(atspi_accessible_get_toolkit_name(native(lastApplication_)->object, nullptr)) == "Qt";
    }
    if (request()) {
      std::string name = takeString(atspi_accessible_get_name(native(lastApplication_)->object, error.out()));
      if (!error.failed() && !name.empty()) application.name = name;
    }
  }
  return application;
}

AXElement AtspiAccessibility::applicationElement(const FrontmostApplication& application) {
  if (!onQueue() || !lastApplication_ || application.processID != lastApplicationPid_) return nullptr;
  return lastApplication_;
}

AXElement AtspiAccessibility::copyElement(const AXElement& element, AXElementAttribute attribute) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return nullptr;
  const AXElement window = findWindow(*node);
  if (attribute == AXElementAttribute::focusedWindow) return window;
  if (!node->focusSearched) {
    node->focusSearched = true;
    node->focused = findFocused(window ? *native(window) : *node);
  }
  return node->focused;
}

std::optional<std::string> AtspiAccessibility::copyString(const AXElement& element, AXStringAttribute attribute) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  ErrorSlot error;
  switch (attribute) {
    case AXStringAttribute::role:
    case AXStringAttribute::subrole: {
      const auto r = role(*node);
      if (!r) return std::nullopt;
      const std::string name = takeString(atspi_role_get_name(*r));
      const bool multiLine = *r == ATSPI_ROLE_TEXT && hasState(*node, ATSPI_STATE_MULTI_LINE);
      const AXRoleNames names = axRoleFor(name, multiLine);
      const std::string_view value = attribute == AXStringAttribute::role ? names.role : names.subrole;
      if (value.empty()) return std::nullopt;
      return std::string(value);
    }
    case AXStringAttribute::title: {
      if (!request()) return std::nullopt;
      std::string name = takeString(atspi_accessible_get_name(node->object, error.out()));
      if (error.failed()) return std::nullopt;
      return name;
    }
    case AXStringAttribute::description: {
      if (!request()) return std::nullopt;
      std::string description = takeString(atspi_accessible_get_description(node->object, error.out()));
      if (error.failed()) return std::nullopt;
      return description;
    }
    case AXStringAttribute::value: {
      const auto& text = textOf(*node);
      if (!text) return std::nullopt;
      return text->text();
    }
    case AXStringAttribute::selectedText: {
      const auto& text = textOf(*node);
      const auto range = copySelectedTextRange(element);
      if (!text || !range) return std::nullopt;
      return text::toUtf8(text::toUnicode(text->text()).tempSubString(static_cast<int32_t>(range->location),
                                                                      static_cast<int32_t>(range->length)));
    }
    case AXStringAttribute::help: return std::nullopt;
  }
  return std::nullopt;
}

std::optional<AXTextRange> AtspiAccessibility::copySelectedTextRange(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& map = textOf(*node);
  if (!map || !request()) return std::nullopt;
  AtspiText* text = atspi_accessible_get_text_iface(node->object);
  if (!text) return std::nullopt;
  std::optional<AXTextRange> result;
  ErrorSlot error;
  const gint selections = request() ? atspi_text_get_n_selections(text, error.out()) : -1;
  if (!error.failed() && selections > 0 && request()) {
    AtspiRange* range = atspi_text_get_selection(text, 0, error.out());
    if (range && !error.failed()) {
      const int64_t start = map->utf16Offset(std::min(range->start_offset, range->end_offset));
      const int64_t end = map->utf16Offset(std::max(range->start_offset, range->end_offset));
      result = AXTextRange{start, end - start};
    }
    g_free(range);
  }
  if (!result && !error.failed() && selections >= 0 && request()) {
    const gint caret = atspi_text_get_caret_offset(text, error.out());
    if (!error.failed() && caret >= 0) result = AXTextRange{map->utf16Offset(caret), 0};
  }
  g_object_unref(text);
  return result;
}

std::optional<AXPoint> AtspiAccessibility::copyPosition(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& r = extentsOf(*node);
  if (!r) return std::nullopt;
  return AXPoint{r->x, r->y};
}

std::optional<AXSize> AtspiAccessibility::copySize(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& r = extentsOf(*node);
  if (!r) return std::nullopt;
  return AXSize{r->width, r->height};
}

std::vector<AXElement> AtspiAccessibility::copyElements(const AXElement& element, AXListAttribute attribute,
                                                        std::size_t limit) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node || attribute == AXListAttribute::contents) return {};
  auto list = children(*node, limit);
  if (attribute == AXListAttribute::visibleChildren) {
    std::erase_if(list, [&](const AXElement& child) {
      const auto& set = states(*native(child));
      return set && !set->test(ATSPI_STATE_SHOWING);
    });
  }
  return list;
}

std::optional<bool> AtspiAccessibility::isValueSettable(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node || !request()) return std::nullopt;
  AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(node->object);
  if (!editable) return false;
  g_object_unref(editable);
  const auto& set = states(*node);
  if (!set) return std::nullopt;
  return set->test(ATSPI_STATE_EDITABLE);
}

std::optional<Rect> AtspiAccessibility::boundsForRange(const AXElement& element, AXTextRange range) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& map = textOf(*node);
  if (!map || range.location < 0 || range.length < 0 || !request()) return std::nullopt;
  AtspiText* text = atspi_accessible_get_text_iface(node->object);
  if (!text) return std::nullopt;
  const gint start = static_cast<gint>(map->characterOffset(range.location));
  const gint end = static_cast<gint>(map->characterOffset(range.location + range.length));
  ErrorSlot error;
  AtspiRect* r = nullptr;
  if (request()) {
    // An empty range is the caret before character `start`: the left edge of that
    // character's box.
    r = range.length == 0 ? atspi_text_get_character_extents(text, start, ATSPI_COORD_TYPE_SCREEN, error.out())
                          : atspi_text_get_range_extents(text, start, std::max(end, start + 1),
                                                         ATSPI_COORD_TYPE_SCREEN, error.out());
  }
  std::optional<Rect> bounds;
  // Toolkits answer offsets they cannot place with an empty box at the origin.
  if (r && !error.failed() && !(r->x == 0 && r->y == 0 && r->width <= 0 && r->height <= 0)) {
    bounds = Rect{double(r->x), double(r->y), range.length == 0 ? 0.0 : double(r->width), double(r->height)};
  }
  g_free(r);
  g_object_unref(text);
  return bounds;
}

std::optional<BrowserPage> AtspiAccessibility::browserPage(const AXElement& application, const AXElement& window,
                                                           const AXElement& focused) {
  if (!onQueue() || !native(application)) return std::nullopt;
  BrowserPage page;
  // The outermost document around the focus (frames inside a page are documents too).
  AXElement document;
  if (const AtspiElement* node = native(focused)) {
    AXElement current = focused;
    for (int level = 0; level < kAncestorLimit && current; ++level) {
      if (isDocument(*native(current))) document = current;
      if (current.get() != focused.get() && native(current)->object == native(application)->object) break;
      current = parent(*native(current));
    }
    page.documentFocused = document != nullptr;
    page.editableFocused = document && hasState(*node, ATSPI_STATE_EDITABLE);
  }
  if (!document && native(window)) {
    std::deque<AXElement> queue{window};
    for (std::size_t seen = 0; seen < kDocumentSearchLimit && !queue.empty() && !document; ++seen) {
      AXElement element = std::move(queue.front());
      queue.pop_front();
      if (isDocument(*native(element)) && hasState(*native(element), ATSPI_STATE_SHOWING)) {
        document = element;
        break;
      }
      for (auto& child : children(*native(element), kDocumentSearchLimit - seen)) queue.push_back(std::move(child));
    }
  }
  if (!document) return std::nullopt;
  const AtspiElement& doc = *native(document);
  if (page.documentFocused && hasState(doc, ATSPI_STATE_EDITABLE)) page.editableFocused = true;
  if (AtspiDocument* iface = atspi_accessible_get_document_iface(doc.object)) {
    for (const char* attribute : {"DocURL", "URI"}) {
      if (!page.url.empty() || !request()) break;
      page.url = takeString(
          atspi_document_get_document_attribute_value(iface, const_cast<gchar*>(attribute), nullptr));
    }
    g_object_unref(iface);
  }
  if (request()) page.title = takeString(atspi_accessible_get_name(doc.object, nullptr));
  return page;
}

}  // namespace

std::unique_ptr<Accessibility> makeAtspiAccessibility(SerialQueue& contextQueue) {
  return std::make_unique<AtspiAccessibility>(contextQueue);
}

std::size_t atspiRequestCount() { return gRequests.load(); }

}  // namespace sorvane::platform
