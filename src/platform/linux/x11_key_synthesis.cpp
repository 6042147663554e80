#include "platform/linux/x11_key_synthesis.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>

#include "core/log.h"
#include "platform/linux/x11_synthetic_keys.h"

namespace sorvane::platform {
namespace {

// The class names of `window` or its nearest ancestor that has any.
std::vector<std::string> classesUpFrom(Display* display, Window window) {
  const Window root = DefaultRootWindow(display);
  for (int depth = 0; window != None && depth < 16; ++depth) {
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint)) {
      std::vector<std::string> names;
      if (hint.res_name) names.emplace_back(hint.res_name);
      if (hint.res_class) names.emplace_back(hint.res_class);
      XFree(hint.res_name);
      XFree(hint.res_class);
      if (!names.empty()) return names;
    }
    if (window == root) break;
    Window parentRoot = None, parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &parentRoot, &parent, &children, &count)) break;
    if (children) XFree(children);
    window = parent;
  }
  return {};
}

Window activeWindow(Display* display) {
  const Atom property = XInternAtom(display, "_NET_ACTIVE_WINDOW", True);
  if (property == None) return None;
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  Window window = None;
  if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1, False, XA_WINDOW, &type, &format,
                         &items, &after, &data) == Success &&
      data && items == 1 && format == 32) {
    window = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
  }
  if (data) XFree(data);
  return window;
}

}  // namespace

X11KeySynthesis::X11KeySynthesis(std::shared_ptr<X11SyntheticKeys> synthetic) : synthetic_(std::move(synthetic)) {
  display_ = XOpenDisplay(nullptr);
  if (!display_) {
    appLog("paste keys unavailable reason=no-x-server");
    return;
  }
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  xtest_ = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor);
  if (!xtest_) appLog("paste keys unavailable reason=no-xtest");

  // Every key bound to Shift, Control or Mod1-Mod5, except the lock keys (Caps Lock's row
  // and whichever row holds Num Lock): those are states, not keys the user is holding.
  const KeyCode numLock = XKeysymToKeycode(display_, XK_Num_Lock);
  if (XModifierKeymap* map = XGetModifierMapping(display_)) {
    for (int row = 0; row < 8; ++row) {
      if (row == LockMapIndex) continue;
      const KeyCode* codes = map->modifiermap + row * map->max_keypermod;
      if (numLock && std::find(codes, codes + map->max_keypermod, numLock) != codes + map->max_keypermod) continue;
      for (int i = 0; i < map->max_keypermod; ++i) {
        if (codes[i]) modifierKeycodes_.push_back(codes[i]);
      }
    }
    XFreeModifiermap(map);
  }
}

X11KeySynthesis::~X11KeySynthesis() {
  if (display_) XCloseDisplay(display_);
}

bool X11KeySynthesis::userModifiersHeld() {
  if (!display_) return false;
  char keys[32] = {};
  XQueryKeymap(display_, keys);
  return std::any_of(modifierKeycodes_.begin(), modifierKeycodes_.end(),
                     [&](unsigned code) { return (keys[code / 8] >> (code % 8)) & 1; });
}

std::vector<std::string> X11KeySynthesis::focusedWindowClasses() {
  if (!display_) return {};
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display_, &focus, &revert);
  std::vector<std::string> names;
  if (focus != None && focus != PointerRoot) names = classesUpFrom(display_, focus);
  if (names.empty()) {
    if (Window active = activeWindow(display_)) names = classesUpFrom(display_, active);
  }
  return names;
}

bool X11KeySynthesis::sendPasteChord(PasteChord chord) {
  if (!available()) return false;
  std::vector<KeySym> keys;  // pressed in order, released in reverse
  switch (chord) {
    case PasteChord::controlV: keys = {XK_Control_L, XK_v}; break;
    case PasteChord::controlShiftV: keys = {XK_Control_L, XK_Shift_L, XK_v}; break;
    case PasteChord::shiftInsert: keys = {XK_Shift_L, XK_Insert}; break;
  }
  std::vector<KeyCode> codes;
  for (KeySym key : keys) {
    const KeyCode code = XKeysymToKeycode(display_, key);
    if (!code) return false;
    codes.push_back(code);
  }

  sendPressedInOrder(codes);
  return true;
}

bool X11KeySynthesis::sendTapMask() {
  if (!available()) return false;
  const KeyCode code = XKeysymToKeycode(display_, XK_Control_R);
  if (!code) return false;
  sendPressedInOrder({code});
  return true;
}

void X11KeySynthesis::sendPressedInOrder(const std::vector<unsigned char>& codes) {
  std::vector<std::pair<KeyCode, bool>> events;
  for (KeyCode code : codes) events.emplace_back(code, true);
  for (auto code = codes.rbegin(); code != codes.rend(); ++code) events.emplace_back(*code, false);
  for (const auto& [code, press] : events) {
    if (synthetic_) synthetic_->expect(code, press);
    XTestFakeKeyEvent(display_, code, press ? True : False, CurrentTime);
  }
  XFlush(display_);
}

}  // namespace sorvane::platform
