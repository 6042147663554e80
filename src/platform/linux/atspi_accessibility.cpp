// The AT-SPI accessibility adapter's session: whether the accessibility bus is there and
// the main context libatspi dispatches on, the budget every request asks, the X server
// connection (active window, mouse), the screens followed through Qt, and the frontmost
// application matched to its AT-SPI application. The tree walk is in
// atspi_accessibility_tree.cpp, the port's answers in atspi_accessibility_values.cpp.
#include "platform/linux/atspi_accessibility_detail.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/log.h"

namespace sorvane::platform {
namespace atspi_detail {
namespace {

std::atomic<std::size_t> gRequests{0};

// The most X windows looked at, from the active one toward the root, for the one that
// names its process.
constexpr int kXParentLimit = 16;

}  // namespace

ScreenSnapshot::ScreenSnapshot() {
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

void ScreenSnapshot::follow(QScreen* screen) {
  QObject::connect(screen, &QScreen::geometryChanged, &receiver_, [this](const QRect&) { refresh(); });
  // The work area changes when a panel appears, moves or hides (_NET_WORKAREA on X11).
  QObject::connect(screen, &QScreen::availableGeometryChanged, &receiver_, [this](const QRect&) { refresh(); });
}

void ScreenSnapshot::refresh() {
  Frames frames;
  const auto screens = QGuiApplication::screens();
  // Desktop space turns about the primary screen's bottom, as our own windows do
  // (ui/screen_geometry.h): with screens of different heights, any other line would put
  // the frames found here somewhere else than the windows placed by them.
  if (QScreen* primary = QGuiApplication::primaryScreen()) {
    const QRect g = primary->geometry();
    frames.desktopHeight = g.y() + g.height();
  }
  auto flip = [&](const QRect& g) {
    return Rect{double(g.x()), frames.desktopHeight - g.y() - g.height(), double(g.width()), double(g.height())};
  };
  for (QScreen* screen : screens) {
    frames.screens.push_back(flip(screen->geometry()));
    frames.workAreas.push_back(flip(screen->availableGeometry()));
    const QRect g = screen->geometry();
    frames.scales.push_back({Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())},
                             screen->devicePixelRatio()});
  }
  if (QScreen* primary = QGuiApplication::primaryScreen()) frames.main = flip(primary->geometry());
  std::lock_guard lock(mutex_);
  frames_ = std::move(frames);
}

std::optional<Rect> AtspiAccessibility::workArea(const Rect& screen) {
  const ScreenSnapshot::Frames frames = screens_.read();
  for (std::size_t i = 0; i < frames.screens.size() && i < frames.workAreas.size(); ++i) {
    if (frames.screens[i] == screen) return frames.workAreas[i];
  }
  return std::nullopt;
}

AtspiAccessibility::AtspiAccessibility(SerialQueue& contextQueue) : queue_(contextQueue) {}

}  // namespace atspi_detail

QtOffGlibDefaultContext::QtOffGlibDefaultContext() {
  if (const char* value = std::getenv("QT_NO_GLIB")) {
    hadValue_ = true;
    value_ = value;
  }
  ::setenv("QT_NO_GLIB", "1", 1);
}

void QtOffGlibDefaultContext::restore() {
  if (restored_) return;
  restored_ = true;
  if (hadValue_) {
    ::setenv("QT_NO_GLIB", value_.c_str(), 1);
  } else {
    ::unsetenv("QT_NO_GLIB");
  }
}

namespace atspi_detail {

AtspiAccessibility::~AtspiAccessibility() {
  lastApplication_.reset();
  if (x_) xcb_disconnect(x_);
  if (ownMainContext_) g_main_context_unref(ownMainContext_);
}

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
  const ScreenSnapshot::Frames frames = screens_.read();
  const Rect point = deviceToLogical(Rect{double(pointer->root_x), double(pointer->root_y), 0, 0}, frames.scales);
  free(pointer);
  return AXPoint{point.x, frames.desktopHeight - point.y};
}

// ---------------------------------------------------------------------------
// The frontmost application

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
  application.windowTitle = window->title;
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

}  // namespace atspi_detail

std::unique_ptr<Accessibility> makeAtspiAccessibility(SerialQueue& contextQueue) {
  return std::make_unique<atspi_detail::AtspiAccessibility>(contextQueue);
}

std::size_t atspiRequestCount() { return atspi_detail::gRequests.load(); }

}  // namespace sorvane::platform
