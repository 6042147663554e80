#include "platform/linux/x11_hot_key_grabber.h"

#include <QSocketNotifier>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "core/log.h"

namespace sorvane::platform {
namespace {

// Xlib reports errors through one process-wide handler; it is installed only around a
// grab and its XSync, and only these connections' requests run meanwhile (Qt uses xcb).
int grabFailed = 0;
int recordError(Display*, XErrorEvent* error) {
  grabFailed = error->error_code;
  return 0;
}

}  // namespace

DesktopSessionType detectDesktopSessionType() {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  if (type && std::strcmp(type, "wayland") == 0) return DesktopSessionType::wayland;
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland && *wayland) return DesktopSessionType::wayland;
  if (type && std::strcmp(type, "x11") == 0) return DesktopSessionType::x11;
  const char* display = std::getenv("DISPLAY");
  return display && *display ? DesktopSessionType::x11 : DesktopSessionType::unknown;
}

X11HotKeyGrabber::X11HotKeyGrabber() {
  display_ = XOpenDisplay(nullptr);
  if (!display_) return;
  readModifierMasks();
  XSelectInput(display_, DefaultRootWindow(display_), KeyPressMask);
  notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
}

X11HotKeyGrabber::~X11HotKeyGrabber() {
  notifier_.reset();
  if (display_) XCloseDisplay(display_);  // closing the connection releases its grabs
}

void X11HotKeyGrabber::readModifierMasks() {
  altMask_ = Mod1Mask;
  superMask_ = Mod4Mask;
  numLockMask_ = 0;
  XModifierKeymap* map = XGetModifierMapping(display_);
  if (!map) return;
  const KeyCode alt = XKeysymToKeycode(display_, XK_Alt_L);
  const KeyCode super = XKeysymToKeycode(display_, XK_Super_L);
  const KeyCode numLock = XKeysymToKeycode(display_, XK_Num_Lock);
  for (int row = Mod1MapIndex; row <= Mod5MapIndex; ++row) {
    for (int i = 0; i < map->max_keypermod; ++i) {
      const KeyCode code = map->modifiermap[row * map->max_keypermod + i];
      if (!code) continue;
      if (code == alt) altMask_ = 1u << row;
      if (code == super) superMask_ = 1u << row;
      if (code == numLock) numLockMask_ = 1u << row;
    }
  }
  XFreeModifiermap(map);
}

bool X11HotKeyGrabber::grabVariants(unsigned keycode, unsigned mask) {
  grabFailed = 0;
  XSync(display_, False);
  auto* previous = XSetErrorHandler(recordError);
  for (unsigned lock : {0u, unsigned(LockMask), numLockMask_, LockMask | numLockMask_}) {
    XGrabKey(display_, static_cast<int>(keycode), mask | lock, DefaultRootWindow(display_), False, GrabModeAsync,
             GrabModeAsync);
  }
  XSync(display_, False);
  XSetErrorHandler(previous);
  return grabFailed == 0;
}

void X11HotKeyGrabber::ungrabVariants(unsigned keycode, unsigned mask) {
  auto* previous = XSetErrorHandler(recordError);
  for (unsigned lock : {0u, unsigned(LockMask), numLockMask_, LockMask | numLockMask_}) {
    XUngrabKey(display_, static_cast<int>(keycode), mask | lock, DefaultRootWindow(display_));
  }
  XSync(display_, False);
  XSetErrorHandler(previous);
}

std::string X11HotKeyGrabber::grab(const HotKeyChord& chord) {
  if (!display_) return "no-x-server";
  const KeyCode space = XKeysymToKeycode(display_, XK_space);
  if (!space) return "no-space-key";
  unsigned mask = 0;
  if (chord.modifiers & hotkey::control) mask |= ControlMask;
  if (chord.modifiers & hotkey::shift) mask |= ShiftMask;
  if (chord.modifiers & hotkey::alt) mask |= altMask_;
  if (chord.modifiers & hotkey::super) mask |= superMask_;
  if (!grabVariants(space, mask)) {
    const int code = grabFailed;
    ungrabVariants(space, mask);  // the variants that did succeed must not linger
    return code == BadAccess ? "BadAccess" : "x-error-" + std::to_string(code);
  }
  chords_.push_back(chord);
  grabs_.push_back({chord.id, mask, space});
  return {};
}

void X11HotKeyGrabber::drain() {
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      // The space bar or a modifier may have moved: grab everything again.
      for (const Grab& g : grabs_) ungrabVariants(g.keycode, g.mask);
      grabs_.clear();
      readModifierMasks();
      std::vector<HotKeyChord> chords = std::move(chords_);
      chords_.clear();
      for (const HotKeyChord& chord : chords) {
        if (const std::string status = grab(chord); !status.empty()) {
          appLog("hotkey failed id=" + std::to_string(chord.id) + " status=" + status);
        }
      }
      continue;
    }
    if (event.type != KeyPress) continue;
    const unsigned state = event.xkey.state & ~(LockMask | numLockMask_);
    for (const Grab& g : grabs_) {
      if (g.keycode == event.xkey.keycode && g.mask == (state & (ControlMask | ShiftMask | altMask_ | superMask_))) {
        if (handler_) handler_(g.id);
        break;
      }
    }
  }
}

}  // namespace sorvane::platform
