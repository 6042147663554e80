// Which desktop adapters serve the key taps, the hotkey chords and the paste chord, chosen
// once at start from the session type and what the session allows: whether the kernel's
// keyboards can be read (input group or the udev rule), whether /dev/uinput is writable,
// and whether the desktop offers the GlobalShortcuts portal.
//
// On X11 everything goes through the X server. Under Wayland the taps come from the
// kernel's keyboards when readable, else only from X11 windows (XWayland); the chords go
// through the portal where it exists, else through the kernel's keyboards, else XWayland;
// the paste chord goes through our virtual keyboard when /dev/uinput is writable, else
// reaches X11 windows only (the others get the copy panel). The entry point logs
// `logLine` and shows `userMessage` in the settings section. Pure; no I/O.
#pragma once

#include <optional>
#include <string>

#include "input/desktop_session_notice.h"

namespace sorvane {

struct DesktopSessionFacts {
  DesktopSessionType type = DesktopSessionType::unknown;
  bool inputDevicesReadable = false;
  bool uinputWritable = false;
  bool globalShortcutsPortal = false;
};

enum class KeyTapBackend { x11RawEvents, inputDevices, x11WindowsOnly };
enum class HotKeyBackend { x11Grab, desktopPortal, inputDevices, x11WindowsOnly };
enum class PasteBackend { x11Keys, virtualKeyboard, x11WindowsOnly };

struct DesktopBackends {
  KeyTapBackend keyTaps = KeyTapBackend::x11RawEvents;
  HotKeyBackend hotKeys = HotKeyBackend::x11Grab;
  PasteBackend paste = PasteBackend::x11Keys;
  bool operator==(const DesktopBackends&) const = default;
};

DesktopBackends chooseDesktopBackends(const DesktopSessionFacts& facts);

// "desktop session type=wayland key-taps=input-devices hotkeys=portal paste=virtual-keyboard"
std::string desktopBackendsLogLine(DesktopSessionType type, const DesktopBackends& backends);

// What the user should know about the chosen adapters (Chinese, with the Linux key
// names), or none when everything works in every window.
std::optional<std::string> desktopBackendsUserMessage(const DesktopBackends& backends);

}  // namespace sorvane
