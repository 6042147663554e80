// The context collector over the AT-SPI adapter, against real GTK 3 and Qt windows, and
// the app's accessibility switch against the real bus launcher. Needs an X server, a
// private D-Bus session and AT-SPI bus: atspi_session.sh sets them up and
// SORVANE_ATSPI_DESKTOP=1; elsewhere these tests skip.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <signal.h>

#include "context/context_collector.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/atspi_status_switch.h"
#include "core/unicode_text.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

namespace sorvane::platform {
namespace {

using namespace std::chrono_literals;

std::string run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(15'000)) {
    process.kill();
    process.waitForFinished();
    return {};
  }
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed().toStdString();
}

// A fixture window, focused; closed when this goes away.
class FixtureWindow {
 public:
  FixtureWindow(const QString& program, const QStringList& arguments, const QString& title) {
    process_.start(program, arguments + QStringList{title});
    if (!process_.waitForStarted(10'000)) return;
    while (!process_.canReadLine() && process_.waitForReadyRead(10'000)) {
    }
    if (process_.readLine().trimmed() != "ready") return;
    window_ = run("xdotool", {"search", "--sync", "--name", "^" + title + "$"});
    if (auto newline = window_.find('\n'); newline != std::string::npos) window_.resize(newline);
    if (!window_.empty()) run("xdotool", {"windowfocus", "--sync", QString::fromStdString(window_)});
  }
  ~FixtureWindow() {
    if (process_.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
    process_.closeWriteChannel();
    if (!process_.waitForFinished(5'000)) {
      process_.kill();
      process_.waitForFinished();
    }
  }
  bool shown() const { return !window_.empty(); }
  const std::string& window() const { return window_; }
  qint64 pid() const { return process_.processId(); }

 private:
  QProcess process_;
  std::string window_;
};

class AtspiDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("SORVANE_ATSPI_DESKTOP")) GTEST_SKIP() << "needs atspi_session.sh";
    dispatcher = makeQtDispatcher(SystemClock::instance());
    collector = std::make_unique<ContextCollector>(
        makeAtspiAccessibility(dispatcher->queue(kContextQueueLabel)), *dispatcher);
  }

  // Applications appear on the accessibility bus a moment after their window.
  InputContext collectOnceFocused(const std::string& appName) {
    InputContext context;
    for (auto until = std::chrono::steady_clock::now() + 15s; std::chrono::steady_clock::now() < until;) {
      context = collector->collect();
      if (context.appName == appName && !context.focusedRole.empty()) break;
      std::this_thread::sleep_for(200ms);
    }
    return context;
  }

  // The window's frame in desktop space (the 1280x800 screen of the test server).
  static Rect desktopFrameOf(const std::string& window) {
    const std::string shell = run("xdotool", {"getwindowgeometry", "--shell", QString::fromStdString(window)});
    auto value = [&](const std::string& key) {
      auto at = shell.find(key + "=");
      return at == std::string::npos ? 0.0 : std::stod(shell.substr(at + key.size() + 1));
    };
    return {value("X"), 800 - value("Y") - value("HEIGHT"), value("WIDTH"), value("HEIGHT")};
  }

  static bool inside(const Rect& inner, const Rect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
  }

  static void expectTextEditContext(const InputContext& context, const std::string& title) {
    EXPECT_EQ(context.source, "accessibility");
    EXPECT_EQ(context.windowTitle, title);
    EXPECT_EQ(context.focusedRole, "AXTextArea");
    EXPECT_TRUE(context.focusedValueSettable);
    // The fixture's text holds an emoji before the selection: UTF-16 ranges, not
    // characters, must come out of the adapter.
    EXPECT_EQ(context.textBeforeCursor, "你好😀 hello");
    EXPECT_EQ(context.selectedText, "world");
    EXPECT_EQ(context.textAfterCursor, "second line");
    EXPECT_NE(context.visibleText.find("Status: ready for dictation"), std::string::npos) << context.visibleText;
    EXPECT_EQ(context.pasteTargetReason(), "focused-text-role");
    EXPECT_TRUE(context.focusedFrame);
    EXPECT_TRUE(context.caretFrame);
  }

  std::unique_ptr<Dispatcher> dispatcher;
  std::unique_ptr<ContextCollector> collector;
};

QString gtkFixture() { return QString::fromUtf8(std::getenv("SORVANE_ATSPI_GTK_FIXTURE")); }

TEST_F(AtspiDesktop, GtkTextView) {
  const QString title = "Sorvane GTK text view";
  FixtureWindow window("/usr/bin/python3", {gtkFixture()}, title);
  ASSERT_TRUE(window.shown());
  const InputContext context = collectOnceFocused("Sorvane GTK Fixture");
  EXPECT_EQ(context.appName, "Sorvane GTK Fixture");
  expectTextEditContext(context, title.toStdString());
  EXPECT_EQ(context.bundleIdentifier, "org.sorvane.atspigtkfixture");

  // Frames are in desktop space: the caret and the field lie inside the window.
  const Rect windowFrame = desktopFrameOf(window.window());
  ASSERT_TRUE(context.caretFrame && context.focusedFrame);
  EXPECT_TRUE(inside(*context.caretFrame, windowFrame)) << context.caretFrame->x << "," << context.caretFrame->y;
  EXPECT_TRUE(inside(*context.focusedFrame, windowFrame)) << context.focusedFrame->y;
  EXPECT_EQ(collector->targetScreenForFrontmostWindow(), (Rect{0, 0, 1280, 800}));
}

// Its own CTest entry runs this process at QT_SCALE_FACTOR=2 while the GTK fixture draws
// unscaled, as on a scaled desktop: AT-SPI and X answer in device pixels, and the frames
// must come out in this process's logical ones, where its screens and windows are.
TEST_F(AtspiDesktop, OnAScaledDesktopFramesAreInQtsLogicalPixels) {
  if (qEnvironmentVariable("QT_SCALE_FACTOR") != QStringLiteral("2")) GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
  FixtureWindow window("/usr/bin/python3", {gtkFixture()}, "Sorvane GTK text view");
  ASSERT_TRUE(window.shown());
  const InputContext context = collectOnceFocused("Sorvane GTK Fixture");
  // Flipped at the device height (800) then halved is the same as flipped at the logical
  // height (400) after halving.
  const Rect device = desktopFrameOf(window.window());
  const Rect logical{device.x / 2, device.y / 2, device.width / 2, device.height / 2};
  ASSERT_TRUE(context.caretFrame && context.focusedFrame);
  EXPECT_TRUE(inside(*context.focusedFrame, logical))
      << context.focusedFrame->x << "," << context.focusedFrame->y << " " << context.focusedFrame->width << "x"
      << context.focusedFrame->height << " in " << logical.x << "," << logical.y << " " << logical.width << "x"
      << logical.height;
  EXPECT_TRUE(inside(*context.caretFrame, logical));
  EXPECT_EQ(collector->targetScreenForFrontmostWindow(), (Rect{0, 0, 640, 400}));
}

TEST_F(AtspiDesktop, QtTextEdit) {
  const QString title = "Sorvane Qt text edit";
  FixtureWindow window(QString::fromUtf8(std::getenv("SORVANE_ATSPI_QT_FIXTURE")), {}, title);
  ASSERT_TRUE(window.shown());
  // This one is found through _NET_ACTIVE_WINDOW, as under a window manager.
  run("xprop", {"-root", "-f", "_NET_ACTIVE_WINDOW", "32x", "-set", "_NET_ACTIVE_WINDOW",
                QString::fromStdString(window.window())});
  const InputContext context = collectOnceFocused("Sorvane Qt Fixture");
  run("xprop", {"-root", "-remove", "_NET_ACTIVE_WINDOW"});
  EXPECT_EQ(context.appName, "Sorvane Qt Fixture");
  expectTextEditContext(context, title.toStdString());
  EXPECT_FALSE(context.bundleIdentifier.empty());
  EXPECT_EQ(context.bundleIdentifier, text::toLower(context.bundleIdentifier));
}

// Qt marks the current page tab focused too, and it is nearer the window than the text.
TEST_F(AtspiDesktop, QtTabbedEditorGivesTheTextNotThePageTab) {
  const QString title = "Sorvane Qt tabbed editor";
  FixtureWindow window(QString::fromUtf8(std::getenv("SORVANE_ATSPI_QT_FIXTURE")), {"--tabs"}, title);
  ASSERT_TRUE(window.shown());
  expectTextEditContext(collectOnceFocused("Sorvane Qt Fixture"), title.toStdString());
}

TEST_F(AtspiDesktop, AHungApplicationCostsOneBudget) {
  const QString title = "Sorvane GTK hung";
  FixtureWindow window("/usr/bin/python3", {gtkFixture()}, title);
  ASSERT_TRUE(window.shown());
  ASSERT_EQ(collectOnceFocused("Sorvane GTK Fixture").focusedRole, "AXTextArea");

  ::kill(static_cast<pid_t>(window.pid()), SIGSTOP);
  ContextCollectionStats stats;
  const auto start = std::chrono::steady_clock::now();
  const InputContext context = collector->collect(&stats);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ::kill(static_cast<pid_t>(window.pid()), SIGCONT);
  // Unbounded, the field's dozens of reads would each wait for libatspi's own timeout.
  EXPECT_LT(elapsed, 2s);
  EXPECT_TRUE(stats.budgetExhausted);
  EXPECT_EQ(context.bundleIdentifier, "org.sorvane.atspigtkfixture");
  EXPECT_EQ(context.source, "accessibility");

  // Answering again, it is read in full.
  EXPECT_EQ(collectOnceFocused("Sorvane GTK Fixture").selectedText, "world");
}

// A panel's reserved strip (_NET_WORKAREA, as window managers publish it) is left out of
// where the turn's windows go, while the window is still matched to its whole screen.
TEST_F(AtspiDesktop, TheWorkAreaLeavesOutTheDesktopsPanels) {
  run("xprop", {"-root", "-f", "_NET_SUPPORTED", "32a", "-set", "_NET_SUPPORTED", "_NET_WORKAREA"});
  run("xprop", {"-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA", "0, 32, 1280, 768"});
  const Rect belowTopPanel{0, 0, 1280, 768};  // desktop space: y grows upward
  EXPECT_TRUE(sorvane::testing::waitUntil([&] { return collector->screenContainingMouse() == belowTopPanel; }, 10s));
  run("xprop", {"-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA", "0, 0, 1280, 800"});
  EXPECT_TRUE(sorvane::testing::waitUntil(
      [&] { return collector->screenContainingMouse() == Rect{0, 0, 1280, 800}; }, 10s));
}

// The app's switch, run to its end on the main thread; the cap only guards the test.
AccessibilitySwitchResult switchAndWait(const std::string& busAddress = {}) {
  std::optional<AccessibilitySwitchResult> result;
  QEventLoop loop;
  QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
  switchAccessibilityOn(
      [&](const AccessibilitySwitchResult& answer) {
        result = answer;
        loop.quit();
      },
      busAddress);
  if (!result) loop.exec();
  return result.value_or(AccessibilitySwitchResult{AccessibilitySwitchResult::Outcome::failed, "no answer"});
}

TEST(AtspiStatusSwitch, WithoutABusItLogsWhyAndStartsAnyway) {
  testing::LogCapture log;
  const AccessibilitySwitchResult result = switchAndWait("unix:path=/nonexistent/sorvane-bus");
  EXPECT_EQ(result.outcome, AccessibilitySwitchResult::Outcome::failed);
  EXPECT_EQ(log.count("accessibility switch failed reason=no-session-bus"), 1u);
}

// The bus's IsEnabled, read as dbus-send prints it: "true", "false" or empty.
std::string busSwitch() {
  const std::string reply =
      run("dbus-send", {"--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.freedesktop.DBus.Properties.Get", "string:org.a11y.Status", "string:IsEnabled"});
  if (reply.find("boolean true") != std::string::npos) return "true";
  if (reply.find("boolean false") != std::string::npos) return "false";
  return {};
}

// A session where nothing switched accessibility on (atspi_session.sh with
// SORVANE_ATSPI_SWITCH=off): Qt applications expose nothing until the app switches it on.
class AtspiSwitchedOff : public AtspiDesktop {
 protected:
  void SetUp() override {
    const char* state = std::getenv("SORVANE_ATSPI_SWITCH");
    if (!state || std::string(state) != "off") GTEST_SKIP() << "needs atspi_session.sh with SORVANE_ATSPI_SWITCH=off";
    AtspiDesktop::SetUp();
  }
};

TEST_F(AtspiSwitchedOff, TheAppSwitchesItOnAndQtApplicationsStartedAfterExposeTheirFields) {
  ASSERT_EQ(busSwitch(), "false");
  testing::LogCapture log;
  EXPECT_EQ(switchAndWait().outcome, AccessibilitySwitchResult::Outcome::enabled);
  EXPECT_EQ(busSwitch(), "true");
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines().front().rfind("accessibility enabled ", 0), 0u) << log.lines().front();

  EXPECT_EQ(switchAndWait().outcome, AccessibilitySwitchResult::Outcome::alreadyOn);
  EXPECT_EQ(log.count("accessibility already on"), 1u);

  // No QT_LINUX_ACCESSIBILITY_ALWAYS_ON in this session: the bus's switch alone exposes it.
  const QString title = "Sorvane Qt after the switch";
  FixtureWindow window(QString::fromUtf8(std::getenv("SORVANE_ATSPI_QT_FIXTURE")), {}, title);
  ASSERT_TRUE(window.shown());
  expectTextEditContext(collectOnceFocused("Sorvane Qt Fixture"), title.toStdString());
}

}  // namespace
}  // namespace sorvane::platform
