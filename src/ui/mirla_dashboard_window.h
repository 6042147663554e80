// The dashboard: the application's one ordinary, titled window ("Mirla"), with a sidebar
// of six sections over the local data store and the configuration folder.
//
//   概览  today's recording time, characters and time saved, and the 7-day chart
//   历史  recent turns, newest first
//   词典  the personal dictionary, with a field to add a term
//   反馈  feedback samples
//   账号  sign-in and sign-up on the product website (disabled when none is configured)
//   设置  which recogniser and language model the next turn uses and why, the three key
//         fields (written trimmed, mode 0600, never shown back in full), the three switch
//         files, the dictation tap key (the "tap-key" file, used from the next start),
//         start at login (the autostart entry), and the log, data and metrics folders
//
// `showWindowAndRefresh` (tray menu, a second launch, launch) brings it up, reloads every
// section from the store and starts the update check; `refreshIfShown` (after each turn)
// reloads only a visible window, a hidden one reloads when it is next shown. Without a
// tray host (`DashboardServices::showMenuActions`) the sidebar carries the tray menu's
// actions: cancel, copy last text, feedback and quit, kept in step by `applyMenu`.
// Everything from a record or a server is shown as plain text. Main thread; the store's
// calls block on its own queue.
#pragma once

#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/config_folder.h"
#include "core/paths.h"
#include "input/tap_key.h"
#include "turn/status_menu_model.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace sorvane {

class MirlaAccountClient;
class MirlaDataStore;
class MirlaUpdateChecker;

enum class MirlaDashboardSection { overview, history, dictionary, feedback, account, settings };
inline constexpr int kDashboardSectionCount = 6;

// The 7-day character chart.
class MirlaTrendChartView final : public QWidget {
 public:
  explicit MirlaTrendChartView(QWidget* parent = nullptr);
  void setPoints(std::vector<std::pair<std::string, int64_t>> points);
  const std::vector<std::pair<std::string, int64_t>>& points() const { return points_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<std::pair<std::string, int64_t>> points_;
};

struct DashboardServices {
  MirlaDataStore& store;
  MirlaAccountClient& account;
  MirlaUpdateChecker* updateChecker = nullptr;  // none: no update check
  Paths paths;
  ConfigFolder config;
  ProviderSettings providers;
  // Opens a web address (xdg-open in the app); only http(s) addresses are passed.
  std::function<void(const std::string& url)> openURL;
  // Opens a local folder in the file manager.
  std::function<void(const std::string& path)> openFolder;
  // The tray menu's actions in the sidebar, for desktops with no tray host.
  bool showMenuActions = false;
  std::function<void(MenuAction)> perform;
  // Puts a tap key chosen in the settings to use at once; none: it applies at the next start.
  std::function<void(TapKey)> applyTapKey;
};

// The tray menu's slots the sidebar offers when there is no tray.
inline constexpr std::array<MenuSlot, 4> kDashboardMenuSlots{MenuSlot::cancel, MenuSlot::copyLastText,
                                                             MenuSlot::recordFeedback, MenuSlot::quit};

class MirlaDashboardWindow final : public QWidget {
 public:
  explicit MirlaDashboardWindow(DashboardServices services);
  ~MirlaDashboardWindow() override;

  void showWindowAndRefresh();
  void refresh();
  void refreshIfShown();
  // Titles, visibility and enabled state of the sidebar's menu actions.
  void applyMenu(const StatusMenuModel& model);
  void showSection(MirlaDashboardSection section);
  MirlaDashboardSection selectedSection() const { return selected_; }

  // For tests and the picture renderer.
  QString metricValueText(int card) const;
  QString sectionText(MirlaDashboardSection section) const;
  QLineEdit& dictionaryInput() { return *dictionaryInput_; }
  QPushButton& dictionaryAddButton() { return *dictionaryAdd_; }
  QLabel& dictionaryStatus() { return *dictionaryStatus_; }
  QLineEdit& accountEmail() { return *email_; }
  QLineEdit& accountPassword() { return *password_; }
  QPushButton& signInButton() { return *signIn_; }
  QPushButton& signUpButton() { return *signUp_; }
  QLabel& accountStatus() { return *accountStatus_; }
  QLineEdit& keyInput(int index) { return *keyInputs_[static_cast<std::size_t>(index)]; }
  QPushButton& keySaveButton(int index) { return *keySaves_[static_cast<std::size_t>(index)]; }
  QLabel& keyStatus(int index) { return *keyStatuses_[static_cast<std::size_t>(index)]; }
  QCheckBox& switchBox(int index) { return *switches_[static_cast<std::size_t>(index)]; }
  // The tap-key choices in the order of `kTapKeys`; its status line says when it applies.
  QComboBox& tapKeyChoice() { return *tapKey_; }
  QLabel& tapKeyStatus() { return *tapKeyStatus_; }
  QCheckBox& startAtLoginBox() { return *startAtLogin_; }
  // Empty unless the last toggle could not change the entry.
  QLabel& startAtLoginStatus() { return *startAtLoginStatus_; }
  // Checked when every Chromium or Electron launcher found starts with its fields exposed;
  // the status names them, or says why the box could not change them.
  QCheckBox& rendererAccessibilityBox() { return *rendererAccessibility_; }
  QLabel& rendererAccessibilityStatus() { return *rendererAccessibilityStatus_; }
  QLabel& providerSummary() { return *providerSummary_; }
  // One line under the provider summary on what the desktop session limits; none hides it.
  void setDesktopNotice(const std::optional<std::string>& text);
  QLabel& desktopNotice() { return *desktopNotice_; }
  MirlaTrendChartView& chart() { return *chart_; }
  // One of `kDashboardMenuSlots`; null for any other slot.
  QPushButton* menuActionButton(MenuSlot slot) const;

  void addDictionaryTermPressed();
  void accountActionPressed(bool signUp);
  void openGoogleSignIn();
  void openMirlaWebsite();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildOverview();
  QWidget* buildTextSection(const QString& title, QPlainTextEdit*& view);
  QWidget* buildDictionary();
  QWidget* buildAccount();
  QWidget* buildSettings();
  void refreshSettings();
  void saveKey(int index);
  void startAtLoginToggled(bool on);
  void rendererAccessibilityToggled(bool on);
  void tapKeyChosen(int index);

  DashboardServices services_;
  MirlaDashboardSection selected_ = MirlaDashboardSection::overview;
  QButtonGroup* sidebar_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  std::vector<QLabel*> metricValues_;
  std::vector<QLabel*> metricDetails_;
  MirlaTrendChartView* chart_ = nullptr;
  QPlainTextEdit* history_ = nullptr;
  QPlainTextEdit* dictionary_ = nullptr;
  QPlainTextEdit* feedback_ = nullptr;
  QLineEdit* dictionaryInput_ = nullptr;
  QPushButton* dictionaryAdd_ = nullptr;
  QLabel* dictionaryStatus_ = nullptr;
  QLineEdit* email_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* signIn_ = nullptr;
  QPushButton* signUp_ = nullptr;
  QPushButton* google_ = nullptr;
  QPushButton* website_ = nullptr;
  QLabel* accountStatus_ = nullptr;
  QLabel* providerSummary_ = nullptr;
  QLabel* desktopNotice_ = nullptr;
  std::vector<QLineEdit*> keyInputs_;
  std::vector<QPushButton*> keySaves_;
  std::vector<QLabel*> keyStatuses_;
  std::vector<QCheckBox*> switches_;
  QComboBox* tapKey_ = nullptr;
  QLabel* tapKeyStatus_ = nullptr;
  QCheckBox* startAtLogin_ = nullptr;
  QLabel* startAtLoginStatus_ = nullptr;
  QCheckBox* rendererAccessibility_ = nullptr;
  QLabel* rendererAccessibilityStatus_ = nullptr;
  QWidget* menuActions_ = nullptr;
  std::array<QPushButton*, kDashboardMenuSlots.size()> menuButtons_{};
  std::array<MenuAction, kDashboardMenuSlots.size()> menuButtonActions_{};
  bool stale_ = false;  // a refresh was skipped while hidden
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

}  // namespace sorvane
