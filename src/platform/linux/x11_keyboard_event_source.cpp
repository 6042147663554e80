#include "platform/linux/x11_keyboard_event_source.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <cstring>
#include <vector>

#include "core/log.h"
#include "platform/linux/x11_synthetic_keys.h"

namespace sorvane::platform {

X11KeyboardEventSource::X11KeyboardEventSource(std::shared_ptr<X11SyntheticKeys> synthetic)
    : synthetic_(std::move(synthetic)) {
  display_ = XOpenDisplay(nullptr);
  if (!display_) {
    appLog("keyboard events unavailable reason=no-x-server");
    return;
  }
  int event = 0, error = 0;
  int major = 2, minor = 2;
  if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error) ||
      XIQueryVersion(display_, &major, &minor) != Success) {
    appLog("keyboard events unavailable reason=no-xinput2");
    return;
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XISetMask(bits, XI_RawButtonPress);
  // Master devices only: selecting all devices would deliver every event twice.
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof(bits)), bits};
  XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
  findXTestDevices();
  XFlush(display_);
  notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
}

X11KeyboardEventSource::~X11KeyboardEventSource() {
  notifier_.reset();
  if (display_) XCloseDisplay(display_);
}

void X11KeyboardEventSource::findXTestDevices() {
  int count = 0;
  XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
  for (int i = 0; i < count; ++i) {
    if (devices[i].use == XISlaveKeyboard && std::strstr(devices[i].name, "XTEST")) {
      xtestDevices_.insert(devices[i].deviceid);
    }
  }
  if (devices) XIFreeDeviceInfo(devices);
}

Subscription X11KeyboardEventSource::observe(Scope scope, KeyboardObserver observer) {
  if (!available()) return {};
  return observers_.add(scope, std::move(observer));
}

void X11KeyboardEventSource::drain() {
  // Xlib may already hold events read from the socket, so loop on XPending, not on the fd.
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      mapping_.fill(std::nullopt);
      continue;
    }
    if (event.type != GenericEvent || event.xcookie.extension != opcode_) continue;
    if (!XGetEventData(display_, &event.xcookie)) continue;
    const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
    handleRaw(event.xcookie.evtype, raw->sourceid, static_cast<unsigned>(raw->detail));
    XFreeEventData(display_, &event.xcookie);
  }
}

namespace {

X11KeyboardEventSource::Mapped classify(KeySym sym) {
  using M = X11KeyboardEventSource::Mapped;
  switch (sym) {
    case XK_Alt_L: case XK_Meta_L: return M{Key::alt, -1};
    case XK_Alt_R: case XK_Meta_R: return M{Key::alt, -1, true};
    case XK_Control_L: return M{Key::leftControl, -1};
    case XK_Control_R: return M{Key::rightControl, -1};
    case XK_Shift_L: case XK_Shift_R: return M{Key::shift, -1};
    case XK_Super_L: case XK_Super_R: case XK_Hyper_L: case XK_Hyper_R: return M{Key::super, -1};
    case XK_ISO_Level3_Shift: return M{Key::level3Shift, -1};
    case XK_Return: return M{Key::returnKey, -1};
    case XK_KP_Enter: return M{Key::keypadEnter, -1};
    case XK_Escape: return M{Key::escape, -1};
    default: break;
  }
  if (sym >= XK_0 && sym <= XK_9) return M{Key::digit, static_cast<int>(sym - XK_0)};
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return M{Key::keypadDigit, static_cast<int>(sym - XK_KP_0)};
  return M{};
}

}  // namespace

X11KeyboardEventSource::Mapped X11KeyboardEventSource::map(unsigned keycode) {
  if (keycode >= mapping_.size()) return {};
  if (mapping_[keycode]) return *mapping_[keycode];
  Mapped mapped = classify(XkbKeycodeToKeysym(display_, static_cast<KeyCode>(keycode), 0, 0));
  if (mapped.key == Key::other) {
    // Digits that sit on the shifted level: the main row of AZERTY layouts, the keypad
    // with Num Lock off.
    const Mapped shifted = classify(XkbKeycodeToKeysym(display_, static_cast<KeyCode>(keycode), 0, 1));
    if (shifted.key == Key::digit || shifted.key == Key::keypadDigit) mapped = shifted;
  }
  mapping_[keycode] = mapped;
  return mapped;
}

uint8_t X11KeyboardEventSource::heldModifiers() {
  uint8_t bits = 0;
  for (unsigned code = 0; code < down_.size(); ++code) {
    if (!down_[code]) continue;
    const Mapped mapped = map(code);
    bits |= modifierBits(mapped.key, mapped.rightAlt);
  }
  return bits;
}

void X11KeyboardEventSource::handleRaw(int type, int sourceId, unsigned detail) {
  if (type == XI_RawButtonPress) {
    if (detail >= 4 && detail <= 7) return;  // wheel steps, not button presses
    deliver({KeyboardEvent::Type::mouseDown, Key::other, -1, false, heldModifiers()});
    return;
  }
  if ((type != XI_RawKeyPress && type != XI_RawKeyRelease) || detail >= down_.size()) return;
  const bool press = type == XI_RawKeyPress;
  if (synthetic_ && xtestDevices_.count(sourceId) && synthetic_->consume(detail, press)) return;
  const bool wasDown = down_[detail];
  down_[detail] = press;
  const Mapped mapped = map(detail);
  auto event = keyTransition(wasDown, press, mapped.key, mapped.digit, mapped.rightAlt);
  if (!event) return;
  event->modifiers = heldModifiers();
  deliver(*event);
}

void X11KeyboardEventSource::deliver(const KeyboardEvent& event) {
  observers_.deliver(event, QGuiApplication::focusWindow() != nullptr);
}

}  // namespace sorvane::platform
