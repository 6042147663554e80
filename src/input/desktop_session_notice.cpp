#include "input/desktop_session_notice.h"

#include "core/log.h"

namespace sorvane {

std::optional<std::string> DesktopSessionNotice::userMessage() const {
  if (type_ != DesktopSessionType::wayland) return std::nullopt;
  return "当前是 Wayland 会话：Alt / Control 轻按和 Alt+Space 等快捷键只在 X11 窗口获得焦点时有效，"
         "自动粘贴也只能进入 X11 窗口；其他窗口中的结果会显示在复制面板里。";
}

std::optional<std::string> DesktopSessionNotice::report() {
  std::optional<std::string> message = userMessage();
  if (message && !logged_) {
    logged_ = true;
    appLog("wayland session limits: key taps and hotkeys only while an x11 window has focus; "
           "paste only into x11 windows; other windows get the copy panel");
  }
  return message;
}

}  // namespace sorvane
