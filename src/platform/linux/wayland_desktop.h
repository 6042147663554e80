// The Wayland adapters built at start, in one place for the entry point: the kernel's
// keyboards opened (with hot-plug), the virtual paste keyboard created, the shortcut
// portal asked for, and the facts the session choice needs. The entry point then picks
// the adapters with `chooseDesktopBackends(facts)`, logs its line, and uses
// `keyboards` for the taps, `makeHotKeyGrabber` for the chords and `paste` for the
// paste chord wherever the choice names them. Main thread; `keyboards` must outlive the
// grabber made from it.
#pragma once

#include <memory>

#include "input/desktop_session_choice.h"
#include "input/hot_key_manager.h"
#include "platform/linux/evdev_keyboard_source.h"
#include "platform/linux/uinput_key_synthesis.h"

namespace sorvane::platform {

struct WaylandDesktop {
  std::unique_ptr<EvdevKeyboardSource> keyboards;
  std::unique_ptr<UinputKeySynthesis> paste;
  DesktopSessionFacts facts;
};

// `type` is the detected session; the devices and the portal are probed only under Wayland.
WaylandDesktop openWaylandDesktop(DesktopSessionType type);

// The portal or evdev chord adapter the choice names; null for the X11 ones.
std::unique_ptr<HotKeyGrabber> makeHotKeyGrabber(WaylandDesktop& desktop, HotKeyBackend backend);

}  // namespace sorvane::platform
