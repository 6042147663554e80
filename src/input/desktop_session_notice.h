// What cannot work in the desktop session, said once in the log and offered as a message
// the UI shows the user. Under Wayland the application runs through XWayland: the global
// Alt and Control taps and the hotkeys are seen only while an X11 window has focus, and
// the synthetic paste reaches X11 windows only (Wayland-native windows get the text
// through the copy panel). Main queue.
#pragma once

#include <optional>
#include <string>

namespace sorvane {

enum class DesktopSessionType { x11, wayland, unknown };

class DesktopSessionNotice {
 public:
  explicit DesktopSessionNotice(DesktopSessionType type) : type_(type) {}
  // Logs the limits the first time it is called; returns the user message (Chinese, with
  // the Linux key names), or none when nothing is limited.
  std::optional<std::string> report();
  std::optional<std::string> userMessage() const;

 private:
  DesktopSessionType type_;
  bool logged_ = false;
};

}  // namespace sorvane
