#include "platform/linux/wayland_desktop.h"

#include "platform/linux/evdev_hot_key_grabber.h"
#include "platform/linux/portal_hot_key_grabber.h"

namespace sorvane::platform {

WaylandDesktop openWaylandDesktop(DesktopSessionType type) {
  WaylandDesktop desktop;
  desktop.facts.type = type;
  if (type != DesktopSessionType::wayland) return desktop;
  desktop.keyboards = std::make_unique<EvdevKeyboardSource>();
  desktop.facts.inputDevicesReadable = desktop.keyboards->openDevices() > 0;
  desktop.keyboards->watchHotPlug();
  // Held modifiers for the paste wait come from the keyboards we read.
  EvdevKeyboardSource* keyboards = desktop.keyboards.get();
  desktop.paste = std::make_unique<UinputKeySynthesis>(
      makeUinputSystem(), UinputKeySynthesis::Sources{[keyboards] { return keyboards->heldModifiers() != 0; }, {}});
  desktop.facts.uinputWritable = desktop.paste->available();
  desktop.facts.globalShortcutsPortal = globalShortcutsPortalAvailable();
  return desktop;
}

std::unique_ptr<HotKeyGrabber> makeHotKeyGrabber(WaylandDesktop& desktop, HotKeyBackend backend) {
  switch (backend) {
    case HotKeyBackend::desktopPortal: return std::make_unique<PortalHotKeyGrabber>();
    case HotKeyBackend::inputDevices:
      if (desktop.keyboards) return std::make_unique<EvdevHotKeyGrabber>(*desktop.keyboards);
      return nullptr;
    case HotKeyBackend::x11Grab:
    case HotKeyBackend::x11WindowsOnly: break;
  }
  return nullptr;
}

}  // namespace sorvane::platform
