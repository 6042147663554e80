#include "input/desktop_session_choice.h"

namespace sorvane {

DesktopBackends chooseDesktopBackends(const DesktopSessionFacts& facts) {
  // An unknown session is tried as X11: the X11 adapters say themselves when there is no
  // X server.
  if (facts.type != DesktopSessionType::wayland) return {};
  DesktopBackends backends;
  backends.keyTaps = facts.inputDevicesReadable ? KeyTapBackend::inputDevices : KeyTapBackend::x11WindowsOnly;
  if (facts.globalShortcutsPortal) {
    backends.hotKeys = HotKeyBackend::desktopPortal;
  } else {
    backends.hotKeys = facts.inputDevicesReadable ? HotKeyBackend::inputDevices : HotKeyBackend::x11WindowsOnly;
  }
  backends.paste = facts.uinputWritable ? PasteBackend::virtualKeyboard : PasteBackend::x11WindowsOnly;
  return backends;
}

namespace {

const char* name(DesktopSessionType type) {
  switch (type) {
    case DesktopSessionType::x11: return "x11";
    case DesktopSessionType::wayland: return "wayland";
    case DesktopSessionType::unknown: break;
  }
  return "unknown";
}
const char* name(KeyTapBackend backend) {
  switch (backend) {
    case KeyTapBackend::x11RawEvents: return "x11-raw-events";
    case KeyTapBackend::inputDevices: return "input-devices";
    case KeyTapBackend::x11WindowsOnly: break;
  }
  return "x11-windows-only";
}
const char* name(HotKeyBackend backend) {
  switch (backend) {
    case HotKeyBackend::x11Grab: return "x11-grab";
    case HotKeyBackend::desktopPortal: return "portal";
    case HotKeyBackend::inputDevices: return "input-devices";
    case HotKeyBackend::x11WindowsOnly: break;
  }
  return "x11-windows-only";
}
const char* name(PasteBackend backend) {
  switch (backend) {
    case PasteBackend::x11Keys: return "x11-keys";
    case PasteBackend::virtualKeyboard: return "virtual-keyboard";
    case PasteBackend::x11WindowsOnly: break;
  }
  return "x11-windows-only";
}

}  // namespace

std::string desktopBackendsLogLine(DesktopSessionType type, const DesktopBackends& backends) {
  return std::string("desktop session type=") + name(type) + " key-taps=" + name(backends.keyTaps) +
         " hotkeys=" + name(backends.hotKeys) + " paste=" + name(backends.paste);
}

std::optional<std::string> desktopBackendsUserMessage(const DesktopBackends& backends) {
  std::string message;
  if (backends.keyTaps == KeyTapBackend::x11WindowsOnly) {
    message += "无法读取键盘设备（需要加入 input 组或安装随附的 udev 规则）：Alt / Control 轻按只在 X11 窗口获得焦点时有效";
    message += backends.hotKeys == HotKeyBackend::desktopPortal ? "，请使用 Alt+Space 等快捷键。"
                                                                : "，Alt+Space 等快捷键也是如此。";
  }
  if (backends.paste == PasteBackend::x11WindowsOnly) {
    message += "无法写入 /dev/uinput：自动粘贴只能进入 X11 窗口，其他窗口中的结果会显示在复制面板里。";
  }
  if (message.empty()) return std::nullopt;
  return message;
}

}  // namespace sorvane
