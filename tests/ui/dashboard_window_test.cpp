#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "input/tap_key.h"
#include "learning/mirla_data_store.h"
#include "net/qt/qt_http_client.h"
#include "support/loopback_http_server.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"
#include "support/virtual_time.h"
#include "ui/autostart_entry.h"
#include "ui/dashboard_text.h"
#include "ui/mirla_account_client.h"
#include "ui/mirla_dashboard_window.h"
#include "ui/overlay_window.h"

namespace sorvane {
namespace {

using testing::LoopbackHttpServer;
using testing::LoopbackRequest;
using testing::LoopbackResponse;

class DashboardTest : public ::testing::Test {
 protected:
  DashboardTest()
      : paths_(Paths::underHome(home_.path(), home_.file("sorvane.log"))),
        dispatcher_(makeQtDispatcher(SystemClock::instance())),
        http_(std::make_unique<QtHttpClient>(dispatcher_->queue("app.sorvane.http"))),
        store_(std::make_unique<MirlaDataStore>(*dispatcher_, paths_)) {}

  ~DashboardTest() override {
    window_.reset();
    account_.reset();
    http_.reset();
  }

  MirlaDashboardWindow& open(const std::string& website = {}, bool menuActions = false) {
    account_ = std::make_unique<MirlaAccountClient>(*dispatcher_, *http_, website);
    window_ = std::make_unique<MirlaDashboardWindow>(DashboardServices{
        *store_, *account_, nullptr, paths_, ConfigFolder(paths_.configFolder), ProviderSettings{},
        [this](const std::string& url) { opened_.push_back(url); },
        [this](const std::string& path) { opened_.push_back(path); }, menuActions,
        [this](MenuAction action) { performed_.push_back(action); },
        [this](TapKey key) { appliedTapKeys_.push_back(key); }});
    window_->refresh();
    return *window_;
  }

  void appendLine(const std::string& file, const std::string& line) {
    QDir().mkpath(QString::fromStdString(paths_.dataFolder));
    std::ofstream(paths_.dataFolder + "/" + file, std::ios::app) << line << "\n";
  }

  testing::TempDir home_;
  Paths paths_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<QtHttpClient> http_;
  std::unique_ptr<MirlaDataStore> store_;
  std::unique_ptr<MirlaAccountClient> account_;
  std::unique_ptr<MirlaDashboardWindow> window_;
  std::vector<std::string> opened_;
  std::vector<TapKey> appliedTapKeys_;
  std::vector<MenuAction> performed_;
};

// After every turn the app asks for a refresh; a hidden window reads nothing then and
// catches up when it is shown.
TEST_F(DashboardTest, AHiddenDashboardRefreshesWhenItIsShownNotBefore) {
  auto& window = open();
  ASSERT_EQ(window.sectionText(MirlaDashboardSection::dictionary).toStdString(), kDictionaryEmptyText);
  ASSERT_TRUE(store_->addDictionaryTerm("Sorvane", "manual", std::string(kManualTermReason)));
  window.refreshIfShown();
  EXPECT_EQ(window.sectionText(MirlaDashboardSection::dictionary).toStdString(), kDictionaryEmptyText);
  window.show();
  EXPECT_TRUE(window.sectionText(MirlaDashboardSection::dictionary).contains(QStringLiteral("Sorvane")));
  ASSERT_TRUE(store_->addDictionaryTerm("DeepSeek", "manual", std::string(kManualTermReason)));
  window.refreshIfShown();
  EXPECT_TRUE(window.sectionText(MirlaDashboardSection::dictionary).contains(QStringLiteral("DeepSeek")));
}

// With no tray host the sidebar is where a turn is cancelled, the last text copied,
// feedback recorded and the app quit; the buttons follow the menu's state.
TEST_F(DashboardTest, WithoutATrayTheSidebarCarriesTheMenusActions) {
  {
    auto& withTray = open();
    withTray.show();
    EXPECT_FALSE(withTray.menuActionButton(MenuSlot::quit)->isVisible());
  }
  auto& window = open({}, true);
  window.show();
  QPushButton* cancel = window.menuActionButton(MenuSlot::cancel);
  QPushButton* copy = window.menuActionButton(MenuSlot::copyLastText);
  QPushButton* quit = window.menuActionButton(MenuSlot::quit);
  ASSERT_TRUE(cancel && copy && quit && window.menuActionButton(MenuSlot::recordFeedback));
  EXPECT_EQ(window.menuActionButton(MenuSlot::toggle), nullptr);
  EXPECT_TRUE(quit->isVisible());
  EXPECT_EQ(quit->text().toStdString(), buildStatusMenu({}).entry(MenuSlot::quit).title);
  EXPECT_FALSE(cancel->isVisible());  // idle: nothing to cancel, nothing to copy
  EXPECT_FALSE(copy->isEnabled());

  StatusMenuState recording;
  recording.isRecording = true;
  recording.lastFinalText = "上一次的文字";
  recording.lastRawText = "上一次的文字";
  window.applyMenu(buildStatusMenu(recording));
  EXPECT_TRUE(cancel->isVisible());
  EXPECT_TRUE(copy->isEnabled());
  cancel->click();
  copy->click();
  quit->click();
  EXPECT_EQ(performed_, (std::vector<MenuAction>{MenuAction::cancelRecording, MenuAction::copyLastText, MenuAction::quit}));
}

TEST_F(DashboardTest, EmptyStoreShowsTheEmptyStatesAndAnUnconfiguredAccount) {
  auto& window = open();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Mirla"));
  EXPECT_EQ(window.sectionText(MirlaDashboardSection::history).toStdString(), kHistoryEmptyText);
  EXPECT_EQ(window.sectionText(MirlaDashboardSection::dictionary).toStdString(), kDictionaryEmptyText);
  EXPECT_EQ(window.sectionText(MirlaDashboardSection::feedback).toStdString(), kFeedbackEmptyText);
  EXPECT_EQ(window.metricValueText(0), QStringLiteral("0ms"));
  EXPECT_EQ(window.chart().points().size(), 7u);
  EXPECT_FALSE(window.signInButton().isEnabled());
  EXPECT_FALSE(window.signUpButton().isEnabled());
  EXPECT_EQ(window.accountStatus().text().toStdString(), kAccountNotConfiguredStatus);
  window.showSection(MirlaDashboardSection::dictionary);
  EXPECT_EQ(window.selectedSection(), MirlaDashboardSection::dictionary);
}

TEST_F(DashboardTest, AddingDictionaryTerms) {
  auto& window = open();
  window.dictionaryInput().setText(QStringLiteral("   "));
  window.dictionaryAddButton().click();
  EXPECT_EQ(window.dictionaryStatus().text().toStdString(), kDictionaryNeedsTermStatus);

  window.dictionaryInput().setText(QStringLiteral(" Sorvane "));
  window.dictionaryAddButton().click();
  EXPECT_EQ(window.dictionaryStatus().text().toStdString(), dictionaryAddedStatus("Sorvane"));
  EXPECT_TRUE(window.dictionaryInput().text().isEmpty());
  EXPECT_TRUE(window.sectionText(MirlaDashboardSection::dictionary).startsWith(QStringLiteral("Sorvane")));
  const auto terms = store_->dictionaryTerms();
  ASSERT_EQ(terms.size(), 1u);
  EXPECT_EQ(terms[0].source, "manual");
  EXPECT_EQ(terms[0].reason, std::string(kManualTermReason));

  window.dictionaryInput().setText(QStringLiteral("的"));
  window.dictionaryAddButton().click();
  EXPECT_EQ(window.dictionaryStatus().text().toStdString(), kDictionaryRejectedStatus);
  EXPECT_EQ(window.dictionaryInput().text(), QStringLiteral("的"));
}

TEST_F(DashboardTest, AccountFormRefusesLocallyAndShowsTheServersError) {
  LoopbackHttpServer site([](const LoopbackRequest& request) {
    if (request.path == "/api/auth/email/login") {
      return LoopbackResponse::make(401, R"({"error":"<b>邮箱或密码不对</b>"})", {{"Content-Type", "application/json"}});
    }
    return LoopbackResponse::make(200, "{}");
  });
  auto& window = open(site.url("/"));
  EXPECT_TRUE(window.signInButton().isEnabled());
  EXPECT_EQ(window.accountStatus().text().toStdString(), kAccountInitialStatus);
  window.accountEmail().setText(QStringLiteral("me@example.test"));
  window.accountPassword().setText(QStringLiteral("1234567"));
  window.signInButton().click();
  EXPECT_EQ(window.accountStatus().text().toStdString(), kAccountFormRefusal);
  EXPECT_EQ(site.requestCount(), 0u);

  window.accountPassword().setText(QStringLiteral("12345678"));
  window.signInButton().click();
  ASSERT_TRUE(testing::waitUntil([&] { return window.accountStatus().text() == QStringLiteral("<b>邮箱或密码不对</b>"); }));
  EXPECT_EQ(window.accountStatus().textFormat(), Qt::PlainText);
  window.signUpButton().click();
  ASSERT_TRUE(testing::waitUntil([&] { return window.accountStatus().text().toStdString() == kAccountConnectedStatus; }));
  ASSERT_EQ(site.requestCount(), 2u);
  EXPECT_EQ(site.requests()[1].path, "/api/auth/email/register");
}

TEST_F(DashboardTest, SettingsWritesKeyFilesPrivatelyAndTheProviderChoiceFollows) {
  auto& window = open();
  window.showSection(MirlaDashboardSection::settings);
  EXPECT_TRUE(window.providerSummary().text().contains(QStringLiteral("on-device")));
  window.keyInput(0).setText(QStringLiteral("  sk-dashscope-secret-9876 \n"));
  window.keySaveButton(0).click();
  const std::string keyFile = paths_.configFolder + "/dashscope-api-key";
  struct stat info {};
  ASSERT_EQ(::stat(keyFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(home_.read(".sorvane/dashscope-api-key"), "sk-dashscope-secret-9876");
  // Never shown back in full: the field is cleared, its placeholder keeps the tail only.
  EXPECT_TRUE(window.keyInput(0).text().isEmpty());
  EXPECT_FALSE(window.keyInput(0).placeholderText().contains(QStringLiteral("sk-dashscope")));
  EXPECT_TRUE(window.keyInput(0).placeholderText().contains(QStringLiteral("9876")));
  EXPECT_TRUE(window.providerSummary().text().contains(QStringLiteral("qwen3-asr-flash-realtime")));
  EXPECT_TRUE(window.providerSummary().text().contains(QStringLiteral("qwen-llm-direct")));
  const std::string log = home_.read("sorvane.log");
  EXPECT_EQ(log.find("secret"), std::string::npos);

  window.switchBox(1).setChecked(true);
  EXPECT_TRUE(ConfigFolder(paths_.configFolder).isEnabled(kFfmpegSpeechNormSwitch));
  window.switchBox(1).setChecked(false);
  EXPECT_FALSE(ConfigFolder(paths_.configFolder).isEnabled(kFfmpegSpeechNormSwitch));
}

TEST_F(DashboardTest, RendererAccessibilityBoxRewritesTheChromiumLauncher) {
  paths_.systemApplicationsFolders = {home_.file("system")};
  auto& window = open();
  window.showSection(MirlaDashboardSection::settings);
  QCheckBox& box = window.rendererAccessibilityBox();
  EXPECT_FALSE(box.isEnabled());  // nothing installed that needs it

  home_.write("system/chromium.desktop", "[Desktop Entry]\nType=Application\nExec=/usr/bin/chromium %U\n");
  window.refresh();
  ASSERT_TRUE(box.isEnabled());
  EXPECT_FALSE(box.isChecked());
  EXPECT_EQ(window.rendererAccessibilityStatus().text(), QStringLiteral("chromium.desktop"));
  box.click();
  EXPECT_TRUE(box.isChecked());
  EXPECT_NE(home_.read(".local/share/applications/chromium.desktop")
                .find("\nExec=/usr/bin/chromium --force-renderer-accessibility %U\n"),
            std::string::npos);
  box.click();
  EXPECT_FALSE(box.isChecked());
  EXPECT_FALSE(std::filesystem::exists(home_.file(".local/share/applications/chromium.desktop")));
}

TEST_F(DashboardTest, StartAtLoginBoxFollowsTheAutostartEntry) {
  auto& window = open();
  window.showSection(MirlaDashboardSection::settings);
  QCheckBox& box = window.startAtLoginBox();
  QLabel& status = window.startAtLoginStatus();
  const std::string entry = ".config/autostart/sorvane.desktop";
  EXPECT_FALSE(box.isChecked());

  box.click();
  EXPECT_TRUE(box.isChecked());
  EXPECT_TRUE(status.text().isEmpty());
  // The running executable by its absolute path (here the test binary), in the background.
  const std::string exec = "\nExec=" + QCoreApplication::applicationFilePath().toStdString() + " --background\n";
  EXPECT_NE(home_.read(entry).find(exec), std::string::npos) << home_.read(entry);
  box.click();
  EXPECT_FALSE(box.isChecked());
  EXPECT_FALSE(std::filesystem::exists(home_.file(entry)));

  // Written outside the dashboard: shown when the section is shown again.
  ASSERT_EQ(setStartAtLogin(paths_, true, "/usr/bin/sorvane"), "");
  window.showSection(MirlaDashboardSection::settings);
  EXPECT_TRUE(box.isChecked());
  ASSERT_EQ(setStartAtLogin(paths_, false), "");
  window.refresh();
  EXPECT_FALSE(box.isChecked());

  // A regular file where the autostart folder should be: the box stays off and says why.
  std::filesystem::remove_all(paths_.autostartFolder);
  home_.write(".config/autostart", "not a folder");
  box.click();
  EXPECT_FALSE(box.isChecked());
  EXPECT_TRUE(status.text().startsWith(QStringLiteral("未能更改："))) << status.text().toStdString();
  EXPECT_GT(status.text().size(), 5);
  EXPECT_EQ(status.textFormat(), Qt::PlainText);
  EXPECT_EQ(home_.read(".config/autostart"), "not a folder");
  // The next refresh starts clean.
  window.refresh();
  EXPECT_TRUE(status.text().isEmpty());
}

TEST_F(DashboardTest, TapKeyChoiceAppliesAtOnceIsKeptForTheNextStartAndFollowsTheFile) {
  auto& window = open();
  window.showSection(MirlaDashboardSection::settings);
  QComboBox& choice = window.tapKeyChoice();
  ASSERT_EQ(choice.count(), static_cast<int>(kTapKeys.size()));
  EXPECT_EQ(choice.currentIndex(), 0);  // no file: either Alt
  EXPECT_TRUE(window.tapKeyStatus().text().contains(QStringLiteral("立即生效")));

  choice.setCurrentIndex(2);
  EXPECT_EQ(home_.read(".sorvane/tap-key"), "right-control\n");
  EXPECT_EQ(tapKeyFromFile(ConfigFolder(paths_.configFolder).key(kTapKeyFile)), TapKey::rightControl);
  // Put to use at once as well as kept for the next start.
  EXPECT_EQ(appliedTapKeys_, std::vector<TapKey>{TapKey::rightControl});
  EXPECT_TRUE(window.tapKeyStatus().text().contains(QStringLiteral("已生效")));

  // Written outside the dashboard, or unreadable as a choice: shown as the next start reads it.
  home_.write(".sorvane/tap-key", "Super\n");
  window.refresh();
  EXPECT_EQ(choice.currentIndex(), 3);
  home_.write(".sorvane/tap-key", "hyper");
  window.refresh();
  EXPECT_EQ(choice.currentIndex(), 0);

  // A folder where the file should be: the choice goes back to what is on disk and says why.
  std::filesystem::remove(home_.file(".sorvane/tap-key"));
  std::filesystem::create_directories(home_.file(".sorvane/tap-key"));
  choice.setCurrentIndex(1);
  EXPECT_EQ(choice.currentIndex(), 0);
  EXPECT_TRUE(window.tapKeyStatus().text().startsWith(QStringLiteral("未能更改："))) << window.tapKeyStatus().text().toStdString();
  EXPECT_EQ(appliedTapKeys_.size(), 1u);  // a choice not saved is not applied either
}

// Renders the sections and the capsule to PNG files in "interface-pictures" under the
// test's build folder, over a small store of plausible turns. The README's pictures are
// copied from there by hand when the look changes.
TEST_F(DashboardTest, RendersPicturesOfTheSectionsAndTheCapsule) {
  const int64_t now = SystemClock::instance().wallMilliseconds();
  const char* turns[][3] = {
      {"gedit", "嗯那个 明天下午三点 跟 sorvane 团队 对一下 接口", "明天下午三点跟 Sorvane 团队对一下接口。"},
      {"Firefox", "帮我写一句 感谢大家这周的支持", "感谢大家这周的支持！"},
      {"Terminal", "git status 然后 看一下 改动", "git status，然后看一下改动。"},
  };
  int i = 0;
  for (const auto& turn : turns) {
    MirlaHistoryEntry entry;
    entry.id = "T" + std::to_string(i);
    entry.createdAtMs = now - 3600000LL * 26 * i - 60000;
    entry.appName = turn[0];
    entry.rawText = turn[1];
    entry.finalText = turn[2];
    entry.mode = "dictation";
    entry.asrProvider = "qwen3-asr-flash-realtime";
    entry.refineProvider = i == 1 ? "local-fastpath" : "deepseek-direct";
    entry.status = "pasted";
    entry.recordingMs = 3200 + 900 * i;
    entry.stopToPasteMs = 700 + 100 * i;
    entry.refineMs = 520;
    entry.totalMs = 4100 + 1000 * i;
    entry.finalChars = 20;
    appendLine("history.jsonl", encodeRecordLine(entry));
    ++i;
  }
  store_->addDictionaryTerm("Sorvane", "manual", std::string(kManualTermReason));
  store_->addDictionaryTerm("DeepSeek", "llm-feedback", std::string("用户把 deep seek 改成了 DeepSeek"));
  MirlaFeedbackEntry feedback;
  feedback.id = "F1";
  feedback.turnID = "T0";
  feedback.createdAtMs = now - 30000;
  feedback.appName = "gedit";
  feedback.rawText = turns[0][1];
  feedback.finalText = turns[0][2];
  feedback.editedText = "明天下午三点跟 Sorvane 团队对一下 API。";
  feedback.oldSegment = "接口";
  feedback.newSegment = "API";
  feedback.status = "learned";
  appendLine("feedback.jsonl", encodeRecordLine(feedback));

  auto& window = open();
  window.resize(920, 620);
  const QString folder = QDir::current().absoluteFilePath(QStringLiteral("interface-pictures"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const std::pair<MirlaDashboardSection, const char*> sections[] = {
      {MirlaDashboardSection::overview, "dashboard-overview"}, {MirlaDashboardSection::history, "dashboard-history"},
      {MirlaDashboardSection::dictionary, "dashboard-dictionary"}, {MirlaDashboardSection::feedback, "dashboard-feedback"},
      {MirlaDashboardSection::account, "dashboard-account"},     {MirlaDashboardSection::settings, "dashboard-settings"},
  };
  for (const auto& [section, name] : sections) {
    window.showSection(section);
    const QImage image = window.grab().toImage();
    const QString file = folder + "/" + name + ".png";
    ASSERT_TRUE(image.save(file)) << file.toStdString();
    EXPECT_GT(QFileInfo(file).size(), 1000);
  }

  // The capsule in both states, over a light and a dark backdrop, at twice the size.
  testing::VirtualDispatcher virtualTime;
  OverlayWindow capsule(virtualTime);
  const int scale = 2;
  const int pad = 16;
  QImage sheet((static_cast<int>(kCapsuleWidth) + 2 * pad) * 2 * scale, (static_cast<int>(kCapsuleHeight) + 2 * pad) * 2 * scale,
               QImage::Format_ARGB32_Premultiplied);
  sheet.setDevicePixelRatio(scale);
  QPainter painter(&sheet);
  const int cellW = static_cast<int>(kCapsuleWidth) + 2 * pad;
  const int cellH = static_cast<int>(kCapsuleHeight) + 2 * pad;
  painter.fillRect(QRect(0, 0, cellW * 2, cellH), QColor(242, 242, 245));
  painter.fillRect(QRect(0, cellH, cellW * 2, cellH), QColor(36, 36, 40));
  for (int row = 0; row < 2; ++row) {
    for (int state = 0; state < 2; ++state) {
      if (state == 0) {
        capsule.showRecording(RecordingMode::dictation());
        capsule.setAudioLevel(0.7);
        for (int t = 0; t < 7; ++t) capsule.advanceAnimation();
      } else {
        capsule.showProcessing(RecordingMode::dictation());
        for (int t = 0; t < 12; ++t) capsule.advanceAnimation();
      }
      capsule.render(&painter, QPoint(state * cellW + pad, row * cellH + pad), QRegion(), QWidget::DrawChildren);
      capsule.hideOverlay();
    }
  }
  painter.end();
  ASSERT_TRUE(sheet.save(folder + "/capsule.png"));
}

}  // namespace
}  // namespace sorvane
