// The desktop application: single instance, tray icon and status menu.
//
// `runDesktopApplication` owns the QApplication and the event loop of the main thread
// for the rest of the process. Everything here lives on the main queue.
#pragma once

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace sorvane {

struct Paths;

// The tray icon with its menu. "Quit Mirla" ends the event loop.
class StatusItem {
 public:
  StatusItem();
  ~StatusItem();
  QSystemTrayIcon& trayIcon() { return *tray_; }
  QMenu& menu() { return *menu_; }
  QAction& quitAction() { return *quit_; }

 private:
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  QAction* quit_ = nullptr;
};

// Returns the process exit status. Requires a reachable desktop session.
int runDesktopApplication(int argc, char** argv, const Paths& paths);

}  // namespace sorvane
