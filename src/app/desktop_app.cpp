#include "app/desktop_app.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFont>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "app/activation_channel.h"
#include "app/app_turn_driver.h"
#include "app/quit_signal.h"
#include "core/log.h"
#include "core/qt/qt_dispatcher.h"
#include "core/clock.h"
#include "learning/mirla_data_store.h"
#include "net/qt/qt_http_client.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/single_instance.h"
#include "ui/floating_panels.h"
#include "ui/mirla_account_client.h"
#include "ui/mirla_dashboard_window.h"
#include "ui/mirla_update_checker.h"
#include "ui/overlay_window.h"
#include "ui/qt_update_ports.h"
#include "ui/screen_geometry.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;

constexpr Milliseconds kLaunchDashboardRetry{600};
constexpr std::chrono::milliseconds kReopenTimeout{3000};

// The tray icon is drawn at start: a rounded badge with the corner mark U+231E that the
// status item shows when no image asset is available.
QIcon makeTrayIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(32, 32, 36));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
  painter.setPen(QColor(240, 240, 240));
  QFont font = painter.font();
  font.setPixelSize(44);
  painter.setFont(font);
  painter.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter, QString(QChar(0x231E)));
  painter.end();
  return QIcon(pixmap);
}

void openWebURL(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

void openFolder(const std::string& path) {
  QDir().mkpath(QString::fromStdString(path));
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

std::optional<Rect> screenForHud() { return visibleFrameOf(screenUnderMouse()); }

}  // namespace

// --- tray ---

StatusItem::StatusItem() : menu_(std::make_unique<QMenu>()), tray_(std::make_unique<QSystemTrayIcon>()) {
  const StatusMenuModel initial = buildStatusMenu(StatusMenuState{});
  for (const MenuEntry& entry : initial.entries) {
    const auto index = static_cast<std::size_t>(entry.slot);
    QAction* action = entry.isSeparator ? menu_->addSeparator() : menu_->addAction(QString::fromStdString(entry.title));
    if (!entry.keyEquivalent.empty()) {
      action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + QString::fromStdString(entry.keyEquivalent).toUpper()));
    }
    actions_[index] = action;
    bound_[index] = entry.action;
    if (!entry.isSeparator) {
      // The slot's action is read when triggered, so `apply` can never leave a stale one.
      QObject::connect(action, &QAction::triggered, menu_.get(), [this, index] {
        if (onAction && bound_[index] != MenuAction::none) onAction(bound_[index]);
      });
    }
  }
  apply(initial);
  tray_->setIcon(makeTrayIcon());
  tray_->setContextMenu(menu_.get());
  // A left click opens the same menu, as a status-bar item does.
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, menu_.get(),
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
                   });
}

StatusItem::~StatusItem() = default;

void StatusItem::apply(const StatusMenuModel& model) {
  for (const MenuEntry& entry : model.entries) {
    const auto index = static_cast<std::size_t>(entry.slot);
    QAction* action = actions_[index];
    bound_[index] = entry.action;
    if (!entry.isSeparator) {
      action->setText(QString::fromStdString(entry.title));
      action->setEnabled(entry.enabled);
    }
    action->setVisible(entry.visible);
  }
  tray_->setToolTip(QString::fromStdString(model.toolTip));
}

// --- the HUD the turn driver drives ---

class DesktopApp::Hud final : public TurnHud {
 public:
  explicit Hud(DesktopApp& app) : app_(app) {}
  void showRecording(const RecordingMode& mode) override {
    OverlayWindow& overlay = app_.ensureOverlay();
    overlay.place(visibleFrameOr(screenForHud(), mainScreenVisibleFrame()));
    overlay.showRecording(mode);
  }
  void updateRecordingMode(const RecordingMode& mode) override { app_.ensureOverlay().updateRecordingMode(mode); }
  void showProcessing(const RecordingMode& mode) override {
    OverlayWindow& overlay = app_.ensureOverlay();
    overlay.place(visibleFrameOr(screenForHud(), mainScreenVisibleFrame()));
    overlay.showProcessing(mode);
  }
  void hideOverlay() override {
    if (app_.overlay_) app_.overlay_->hideOverlay();
  }

 private:
  DesktopApp& app_;
};

// --- the app ---

DesktopApp::DesktopApp(const Paths& paths, Dispatcher& dispatcher, HttpClient& http)
    : paths_(paths),
      dispatcher_(dispatcher),
      config_(paths.configFolder),
      providers_(config_.providers()),
      store_(std::make_unique<MirlaDataStore>(dispatcher, paths)),
      preferences_(std::make_unique<QSettingsPreferenceStore>(paths.settingsFile)),
      updatePresenter_(std::make_unique<DialogUpdatePresenter>([this]() -> QWidget* { return dashboard_.get(); })),
      updateChecker_(std::make_unique<MirlaUpdateChecker>(
          dispatcher, http, *preferences_, *updatePresenter_,
          providers_.websiteURL.empty() ? std::string() : websiteURLFor(providers_.websiteURL, "/version.json"),
          SORVANE_VERSION, [](const std::string& url) { openWebURL(url); })),
      account_(std::make_unique<MirlaAccountClient>(dispatcher, http, providers_.websiteURL)),
      hud_(std::make_unique<Hud>(*this)),
      driver_(std::make_unique<StandaloneTurnDriver>(dispatcher, *hud_)),
      activation_(std::make_unique<ActivationServer>(paths.runtimeFolder)) {
  driver_->onStateChanged = [this] { rebuildStatusMenu(); };
  statusItem_.onAction = [this](MenuAction action) { perform(action); };
  activation_->onReopen = [this] { handleReopen(); };
  rebuildStatusMenu();
}

DesktopApp::~DesktopApp() {
  statusItem_.onAction = nullptr;
  if (driver_) driver_->onStateChanged = nullptr;
}

void DesktopApp::start(bool showDashboardAtLaunch) {
  statusItem_.trayIcon().show();
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    appLog("status item shown without a system tray host; launch sorvane again to open the dashboard");
  }
  activation_->listen();
  if (!showDashboardAtLaunch) return;
  showDashboard();
  launchRetry_.start(dispatcher_.mainQueue(), kLaunchDashboardRetry, [this] {
    if (!dashboard_ || !dashboard_->isVisible()) showDashboard();
  });
}

void DesktopApp::setTurnDriver(std::unique_ptr<TurnDriver> driver) {
  if (!driver) return;
  driver_ = std::move(driver);
  driver_->onStateChanged = [this] { rebuildStatusMenu(); };
  rebuildStatusMenu();
}

void DesktopApp::rebuildStatusMenu() {
  const StatusMenuModel model = buildStatusMenu(driver_->menuState());
  statusItem_.apply(model);
  if (dashboard_) dashboard_->applyMenu(model);
}

void DesktopApp::perform(MenuAction action) {
  const StatusMenuState& state = driver_->menuState();
  switch (action) {
    case MenuAction::toggleRecording:
      driver_->toggleRecording(RecordingMode::dictation());
      break;
    case MenuAction::startEnglishTranslation:
      driver_->toggleRecording(RecordingMode::englishTranslation());
      break;
    case MenuAction::cancelRecording:
      driver_->cancelRecording();
      break;
    case MenuAction::openDashboard:
      showDashboard();
      break;
    case MenuAction::copyLastText:
      if (!state.lastFinalText.empty()) {
        QGuiApplication::clipboard()->clear();
        QGuiApplication::clipboard()->setText(QString::fromStdString(state.lastFinalText));
      }
      break;
    case MenuAction::showLastText:
      if (!state.lastFinalText.empty()) ensureCopyPanel().show(state.lastFinalText, screenForHud());
      break;
    case MenuAction::recordLastResultFeedback:
      recordLastResultFeedback();
      break;
    case MenuAction::quit:
      // Posted: quitting inside the action's own slot would tear the menu down under it.
      dispatcher_.mainQueue().post([] { QApplication::quit(); });
      break;
    case MenuAction::none:
      break;
  }
}

void DesktopApp::recordLastResultFeedback() {
  const StatusMenuState& state = driver_->menuState();
  if (state.lastFinalText.empty() || state.lastRawText.empty()) return;
  store_->recordManualFeedback(state.lastRawText, state.lastFinalText, state.lastFinalText, driver_->lastContext(),
                               kManualFeedbackNote, std::nullopt, driver_->lastAudioPath());
  if (dashboard_) dashboard_->refreshIfShown();
  ensureLearningPanel().showNotification(std::string(kManualFeedbackNoticeTitle),
                                         std::string(kManualFeedbackNoticeMessage), screenForHud());
}

void DesktopApp::handleReopen() {
  const bool visible = dashboard_ && dashboard_->isVisible();
  appLog(std::string("app reopen visibleWindows=") + (visible ? "true" : "false"));
  showDashboard();
}

void DesktopApp::showDashboard() { ensureDashboard().showWindowAndRefresh(); }

OverlayWindow& DesktopApp::ensureOverlay() {
  if (!overlay_) {
    overlay_ = std::make_unique<OverlayWindow>(dispatcher_);
    overlay_->onCancel = [this] { driver_->cancelRecording(); };
    overlay_->onConfirm = [this] { driver_->stopRecording(); };
  }
  return *overlay_;
}

ResultCopyPanel& DesktopApp::ensureCopyPanel() {
  if (!copyPanel_) {
    copyPanel_ = std::make_unique<ResultCopyPanel>(dispatcher_, [](const std::string& text) {
      QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    });
  }
  return *copyPanel_;
}

MirlaLearningPanel& DesktopApp::ensureLearningPanel() {
  if (!learningPanel_) learningPanel_ = std::make_unique<MirlaLearningPanel>(dispatcher_);
  return *learningPanel_;
}

MirlaDashboardWindow& DesktopApp::ensureDashboard() {
  if (!dashboard_) {
    dashboard_ = std::make_unique<MirlaDashboardWindow>(
        DashboardServices{*store_, *account_, updateChecker_.get(), paths_, config_, providers_,
                          [](const std::string& url) { openWebURL(url); },
                          [](const std::string& path) { openFolder(path); },
                          !QSystemTrayIcon::isSystemTrayAvailable(),
                          [this](MenuAction action) { perform(action); },
                          [this](TapKey key) { driver_->applyTapKey(key); }});
    dashboard_->setDesktopNotice(desktopNotice_);
    dashboard_->applyMenu(buildStatusMenu(driver_->menuState()));
  }
  return *dashboard_;
}

int runDesktopApplication(int argc, char** argv, const Paths& paths) {
  platform::QtOffGlibDefaultContext offGlib;
  QApplication application(argc, argv);
  offGlib.restore();
  QApplication::setApplicationName(QStringLiteral("Sorvane"));
  QApplication::setOrganizationName(QStringLiteral("Sorvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  appLog("app launched");

  if (!paths.ensureRuntimeFolder()) {
    appLog("runtime folder unusable path=" + paths.runtimeFolder + "; single-instance lock may fail");
  }
  platform::SingleInstanceLock lock(platform::SingleInstanceLock::lockPathIn(paths.runtimeFolder));
  if (!lock.tryAcquire()) {
    appLog("another instance exists; terminating this instance");
    if (askRunningInstanceToReopen(paths.runtimeFolder, kReopenTimeout)) {
      appLog("asked the running instance to show its dashboard");
    } else {
      appLog("running instance did not answer the reopen request");
    }
    return 0;
  }

  auto dispatcher = makeQtDispatcher(SystemClock::instance());
  auto http = std::make_unique<QtHttpClient>(dispatcher->queue("app.sorvane.http"));
  const bool background = std::find(argv + 1, argv + argc, std::string_view("--background")) != argv + argc;
  int status = 0;
  {
    DesktopApp app(paths, *dispatcher, *http);
    auto driver = std::make_unique<AppTurnDriver>(app, paths, *dispatcher, *http);
    AppTurnDriver& turns = *driver;
    app.setTurnDriver(std::move(driver));
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&turns] { turns.prepareForQuit(); });
    QuitOnTerminationSignal quitOnSignal;
    app.start(!background);
    turns.start();
    status = QApplication::exec();
    appLog("app quit status=" + std::to_string(status));
  }
  http.reset();
  return status;
}

}  // namespace sorvane
