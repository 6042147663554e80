// The GlobalShortcuts portal adapter against a fake portal (fixtures/portal_fake.py) on a
// private bus started by the test: the chords bound with their proposed triggers, an
// activation of our session reaching the handler (another session's ignored), a refused
// binding, and no portal at all.
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>

#include <gtest/gtest.h>

#include "input/hot_key_manager.h"
#include "platform/linux/portal_hot_key_grabber.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using platform::PortalHotKeyGrabber;

// __FILE__ is relative to the build tree's top, two folders above this test program.
std::string fakePortalPath() {
  const std::filesystem::path top =
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()).parent_path().parent_path();
  return (top / std::filesystem::path(__FILE__).parent_path() / "fixtures" / "portal_fake.py").string();
}

class PortalBus : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus_.waitForStarted(5000)) << "dbus-daemon not found";
    ASSERT_TRUE(testing::waitUntil([&] { return bus_.canReadLine(); }, std::chrono::seconds(5)));
    address = bus_.readLine().trimmed().toStdString();
    ASSERT_FALSE(address.empty());
  }
  void TearDown() override {
    for (QProcess* process : {&portal_, &bus_}) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
      }
    }
  }
  void startPortal(const QString& mode) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(address));
    portal_.setProcessEnvironment(environment);
    portal_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    portal_.start("/usr/bin/python3", {QString::fromStdString(fakePortalPath()), mode});
    ASSERT_TRUE(testing::waitUntil([&] { return readPortal().find("ready") != std::string::npos; },
                                   std::chrono::seconds(10)));
  }
  std::string readPortal() {
    portalOutput += portal_.readAllStandardOutput().toStdString();
    return portalOutput;
  }
  void grabAll(PortalHotKeyGrabber& grabber) {
    for (const HotKeyChord& chord : kHotKeyChords) EXPECT_EQ(grabber.grab(chord), "");
    ASSERT_TRUE(testing::waitUntil([&] { return grabber.settled(); }, std::chrono::seconds(10)));
  }

  std::string address;
  std::string portalOutput;

 private:
  QProcess bus_;
  QProcess portal_;
};

TEST_F(PortalBus, BindsTheChordsAndDeliversOurSessionsActivations) {
  startPortal("bind");
  EXPECT_TRUE(platform::globalShortcutsPortalAvailable(address));
  testing::LogCapture log;
  PortalHotKeyGrabber grabber(address);
  std::vector<int> pressed;
  grabber.setPressedHandler([&](int id) { pressed.push_back(id); });
  grabAll(grabber);
  EXPECT_EQ(grabber.boundIds(), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(log.contains("hotkey portal bound ids=1,2,3"));
  const std::string calls = readPortal();
  EXPECT_NE(calls.find("BindShortcuts sorvane-chord-1 ALT+space Alt+Space"), std::string::npos) << calls;
  EXPECT_NE(calls.find("BindShortcuts sorvane-chord-2 CTRL+ALT+space Control+Alt+Space"), std::string::npos);
  EXPECT_NE(calls.find("BindShortcuts sorvane-chord-3 LOGO+SHIFT+space Super+Shift+Space"), std::string::npos);
  // The fake activates chord 2 for another session and then for ours.
  ASSERT_TRUE(testing::waitUntil([&] { return !pressed.empty(); }, std::chrono::seconds(5)));
  testing::waitUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(pressed, std::vector<int>{2});
}

TEST_F(PortalBus, RefusedBindingFailsEveryChord) {
  startPortal("refuse");
  testing::LogCapture log;
  PortalHotKeyGrabber grabber(address);
  grabAll(grabber);
  EXPECT_TRUE(grabber.boundIds().empty());
  for (int id : {1, 2, 3}) {
    EXPECT_EQ(log.count("hotkey failed id=" + std::to_string(id) + " status=portal-refused"), 1u);
  }
}

TEST_F(PortalBus, NoPortalOnTheBus) {
  EXPECT_FALSE(platform::globalShortcutsPortalAvailable(address));
  testing::LogCapture log;
  PortalHotKeyGrabber grabber(address);
  grabAll(grabber);
  EXPECT_TRUE(grabber.boundIds().empty());
  EXPECT_EQ(log.count("status=no-portal"), 3u);
}

}  // namespace
}  // namespace sorvane
