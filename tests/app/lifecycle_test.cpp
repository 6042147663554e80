#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLocalSocket>
#include <QMenu>
#include <QSystemTrayIcon>

#include <chrono>
#include <memory>
#include <string>

#include "app/activation_channel.h"
#include "app/desktop_app.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "learning/mirla_data_store.h"
#include "net/qt/qt_http_client.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"
#include "ui/floating_panels.h"
#include "ui/mirla_dashboard_window.h"
#include "ui/overlay_window.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

// A turn driver with a delivered last turn, as the controller will have after a turn.
class DeliveredTurnDriver final : public TurnDriver {
 public:
  DeliveredTurnDriver() {
    state_.lastFinalText = "明天下午三点开会。";
    state_.lastRawText = "明天下午三点 开会";
    context_.appName = "gedit";
    context_.source = "accessibility";
  }
  void toggleRecording(const RecordingMode&) override {}
  void stopRecording() override {}
  void cancelRecording() override {}
  const StatusMenuState& menuState() const override { return state_; }
  const InputContext& lastContext() const override { return context_; }
  std::optional<std::string> lastAudioPath() const override { return std::string("/tmp/a.wav"); }

 private:
  StatusMenuState state_;
  InputContext context_;
};

class LifecycleTest : public ::testing::Test {
 protected:
  LifecycleTest()
      : paths_(Paths::underHome(home_.path(), home_.file("sorvane.log"))),
        dispatcher_(makeQtDispatcher(SystemClock::instance())),
        http_(std::make_unique<QtHttpClient>(dispatcher_->queue("app.sorvane.http"))) {
    paths_.ensureRuntimeFolder();
    app_ = std::make_unique<DesktopApp>(paths_, *dispatcher_, *http_);
    app_->start();
  }
  ~LifecycleTest() override {
    app_.reset();
    http_.reset();
  }

  QAction& action(MenuSlot slot) { return app_->statusItem().action(slot); }
  // Lets the debounce window of the turn toggle pass.
  static void pause(std::chrono::milliseconds ms) { waitUntil([] { return false; }, ms); }

  testing::TempDir home_;
  Paths paths_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<QtHttpClient> http_;
  std::unique_ptr<DesktopApp> app_;
};

TEST_F(LifecycleTest, MenuStartsAndStopsATurnAndIsUpdatedInPlace) {
  testing::LogCapture log;
  QAction* toggle = &action(MenuSlot::toggle);
  const auto actionsBefore = app_->statusItem().menu().actions();
  EXPECT_EQ(toggle->text(), QStringLiteral("Start Dictation"));
  EXPECT_FALSE(action(MenuSlot::copyLastText).isEnabled());  // before any turn

  toggle->trigger();  // runs the turn's start inside the action's own slot
  EXPECT_EQ(toggle->text(), QStringLiteral("Stop Recording"));
  EXPECT_TRUE(action(MenuSlot::cancel).isVisible());
  EXPECT_FALSE(action(MenuSlot::startTranslation).isVisible());
  EXPECT_EQ(app_->statusItem().trayIcon().toolTip(), QStringLiteral("Mirla · Recording"));
  ASSERT_NE(app_->overlay(), nullptr);
  EXPECT_TRUE(app_->overlay()->isVisible());
  EXPECT_FALSE(app_->overlay()->isProcessingAnimation());

  pause(150ms);
  toggle->trigger();
  EXPECT_EQ(toggle->text(), QStringLiteral("Processing..."));
  EXPECT_FALSE(toggle->isEnabled());
  EXPECT_FALSE(action(MenuSlot::cancel).isVisible());
  EXPECT_TRUE(app_->overlay()->isProcessingAnimation());
  ASSERT_TRUE(waitUntil([&] { return toggle->text() == QStringLiteral("Start Dictation"); }));
  EXPECT_TRUE(toggle->isEnabled());
  EXPECT_FALSE(app_->overlay()->isVisible());
  EXPECT_EQ(app_->statusItem().trayIcon().toolTip(), QStringLiteral("Mirla"));
  // The same menu and actions throughout.
  EXPECT_EQ(app_->statusItem().menu().actions(), actionsBefore);
  EXPECT_TRUE(log.contains("recording shown mode=dictation"));
  EXPECT_TRUE(log.contains("stop requested"));
}

TEST_F(LifecycleTest, CancelFromTheMenuAndFromTheCapsule) {
  action(MenuSlot::startTranslation).trigger();
  EXPECT_EQ(action(MenuSlot::toggle).text(), QStringLiteral("Stop Translation"));
  action(MenuSlot::cancel).trigger();
  EXPECT_EQ(action(MenuSlot::toggle).text(), QStringLiteral("Start Dictation"));
  EXPECT_FALSE(app_->overlay()->isVisible());

  pause(150ms);
  action(MenuSlot::toggle).trigger();
  ASSERT_TRUE(app_->overlay()->onCancel);
  app_->overlay()->onCancel();
  EXPECT_FALSE(app_->turnDriver().menuState().isRecording);
  EXPECT_EQ(action(MenuSlot::toggle).text(), QStringLiteral("Start Dictation"));
}

TEST_F(LifecycleTest, DashboardOpensAtLaunchFromTheMenuAndFromASecondLaunch) {
  ASSERT_NE(app_->dashboard(), nullptr);
  EXPECT_TRUE(app_->dashboard()->isVisible());
  EXPECT_EQ(app_->dashboard()->windowTitle(), QStringLiteral("Mirla"));
  app_->dashboard()->hide();
  action(MenuSlot::dashboard).trigger();
  EXPECT_TRUE(app_->dashboard()->isVisible());

  app_->dashboard()->hide();
  testing::LogCapture log;
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(activationSocketPath(paths_.runtimeFolder)));
  ASSERT_TRUE(waitUntil([&] { return socket.state() == QLocalSocket::ConnectedState; }));
  socket.write("reopen\n");
  ASSERT_TRUE(waitUntil([&] { return app_->dashboard()->isVisible(); }));
  ASSERT_TRUE(waitUntil([&] { return socket.canReadLine(); }));
  EXPECT_EQ(socket.readLine().trimmed(), QByteArray("ok"));
  EXPECT_TRUE(log.contains("app reopen visibleWindows=false"));
  EXPECT_TRUE(log.contains("dashboard shown visible=true"));

  // Anything else on the socket is dropped without an answer.
  QLocalSocket stranger;
  stranger.connectToServer(QString::fromStdString(activationSocketPath(paths_.runtimeFolder)));
  ASSERT_TRUE(waitUntil([&] { return stranger.state() == QLocalSocket::ConnectedState; }));
  stranger.write("rm -rf\n");
  EXPECT_TRUE(waitUntil([&] { return stranger.state() == QLocalSocket::UnconnectedState; }));
  EXPECT_EQ(log.count("app reopen"), 1u);
}

TEST_F(LifecycleTest, LastResultActionsCopyShowAndRecordFeedback) {
  app_->setTurnDriver(std::make_unique<DeliveredTurnDriver>());
  EXPECT_TRUE(action(MenuSlot::copyLastText).isEnabled());
  EXPECT_TRUE(action(MenuSlot::recordFeedback).isEnabled());

  action(MenuSlot::copyLastText).trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("明天下午三点开会。"));
  action(MenuSlot::showLastText).trigger();
  ASSERT_NE(app_->copyPanel(), nullptr);
  EXPECT_TRUE(app_->copyPanel()->isVisible());
  EXPECT_EQ(app_->copyPanel()->text(), "明天下午三点开会。");

  action(MenuSlot::recordFeedback).trigger();
  const auto feedback = app_->store().feedbackEntries(10);
  ASSERT_EQ(feedback.size(), 1u);
  EXPECT_EQ(feedback[0].status, "manual-feedback");
  EXPECT_EQ(feedback[0].editedText, "明天下午三点开会。");
  EXPECT_EQ(feedback[0].strategySuggestion, kManualFeedbackNote);
  EXPECT_EQ(feedback[0].appName, "gedit");
  ASSERT_NE(app_->learningPanel(), nullptr);
  EXPECT_TRUE(app_->learningPanel()->isVisible());
  EXPECT_EQ(app_->learningPanel()->titleText().toStdString(), kManualFeedbackNoticeTitle);
  EXPECT_TRUE(app_->dashboard()->sectionText(MirlaDashboardSection::feedback).contains(QStringLiteral("manual-feedback")));
}

}  // namespace
}  // namespace sorvane
