// The desktop application: single instance, tray icon and status menu, the floating
// windows, the dashboard, and reopening through a second launch.
//
// `runDesktopApplication` owns the QApplication and the event loop of the main thread
// for the rest of the process. A launch that finds another instance running asks it to
// show its dashboard (activation_channel.h) and exits. `DesktopApp` is the running
// instance: it owns the data store, the update checker, the account client, the lazily
// made windows and the tray's `StatusItem`, whose one QMenu is updated in place from the
// menu model after every state change of the `TurnDriver` (a rebuild runs inside the
// action that caused it, so nothing there may be deleted). Everything here lives on the
// main queue.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "turn/status_menu_model.h"
#include "turn/turn_driver.h"
#include "core/config_folder.h"
#include "core/paths.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace sorvane {

class ActivationServer;
class Dispatcher;
class HttpClient;
class MirlaAccountClient;
class MirlaDashboardWindow;
class MirlaDataStore;
class MirlaLearningPanel;
class MirlaUpdateChecker;
class OverlayWindow;
class QSettingsPreferenceStore;
class DialogUpdatePresenter;
class ResultCopyPanel;

// The tray icon with its menu: one QAction per menu slot, made once.
class StatusItem {
 public:
  StatusItem();
  ~StatusItem();
  QSystemTrayIcon& trayIcon() { return *tray_; }
  QMenu& menu() { return *menu_; }
  QAction& action(MenuSlot slot) { return *actions_[static_cast<std::size_t>(slot)]; }
  QAction& quitAction() { return action(MenuSlot::quit); }
  // Titles, visibility and enabled flags of every slot, and the tool tip.
  void apply(const StatusMenuModel& model);

  std::function<void(MenuAction)> onAction;

 private:
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::array<QAction*, kMenuSlotCount> actions_{};
  std::array<MenuAction, kMenuSlotCount> bound_{};
};

class DesktopApp {
 public:
  // `dispatcher` and `http` outlive the app.
  DesktopApp(const Paths& paths, Dispatcher& dispatcher, HttpClient& http);
  ~DesktopApp();
  DesktopApp(const DesktopApp&) = delete;
  DesktopApp& operator=(const DesktopApp&) = delete;

  // Shows the tray icon, listens for reopen requests and brings up the dashboard (with
  // one retry 0.6 s later when it is not visible by then) unless started in the background.
  void start(bool showDashboardAtLaunch = true);
  // The turn controller takes over from the standalone driver.
  void setTurnDriver(std::unique_ptr<TurnDriver> driver);

  void rebuildStatusMenu();
  void perform(MenuAction action);
  // A second launch: "app reopen visibleWindows=..." and the dashboard.
  void handleReopen();
  void showDashboard();

  StatusItem& statusItem() { return statusItem_; }
  TurnDriver& turnDriver() { return *driver_; }
  MirlaDashboardWindow* dashboard() { return dashboard_.get(); }
  OverlayWindow* overlay() { return overlay_.get(); }
  ResultCopyPanel* copyPanel() { return copyPanel_.get(); }
  MirlaLearningPanel* learningPanel() { return learningPanel_.get(); }
  MirlaDataStore& store() { return *store_; }
  const ProviderSettings& providers() const { return providers_; }
  // What the desktop session limits (from the turn driver), shown in the settings section.
  void setDesktopNotice(std::optional<std::string> text) { desktopNotice_ = std::move(text); }
  // The floating windows, made on first use (the turn driver shows them).
  OverlayWindow& ensureOverlay();
  ResultCopyPanel& ensureCopyPanel();
  MirlaLearningPanel& ensureLearningPanel();

 private:
  class Hud;
  MirlaDashboardWindow& ensureDashboard();
  void recordLastResultFeedback();

  Paths paths_;
  Dispatcher& dispatcher_;
  ConfigFolder config_;
  ProviderSettings providers_;
  std::optional<std::string> desktopNotice_;
  std::unique_ptr<MirlaDataStore> store_;
  std::unique_ptr<QSettingsPreferenceStore> preferences_;
  std::unique_ptr<DialogUpdatePresenter> updatePresenter_;
  std::unique_ptr<MirlaUpdateChecker> updateChecker_;
  std::unique_ptr<MirlaAccountClient> account_;
  std::unique_ptr<Hud> hud_;
  std::unique_ptr<OverlayWindow> overlay_;
  std::unique_ptr<ResultCopyPanel> copyPanel_;
  std::unique_ptr<MirlaLearningPanel> learningPanel_;
  std::unique_ptr<MirlaDashboardWindow> dashboard_;
  std::unique_ptr<TurnDriver> driver_;
  std::unique_ptr<ActivationServer> activation_;
  OneShotTimer launchRetry_;
  StatusItem statusItem_;
};

// Returns the process exit status. Requires a reachable desktop session.
int runDesktopApplication(int argc, char** argv, const Paths& paths);

}  // namespace sorvane
