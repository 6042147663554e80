// Hotkey registration over a fake grabber (a chord held elsewhere is left out, the others
// work, presses reach onHotKey on the main queue) and the once-only Wayland notice.
#include <gtest/gtest.h>

#include "input/desktop_session_notice.h"
#include "input/hot_key_manager.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

class FakeGrabber final : public HotKeyGrabber {
 public:
  explicit FakeGrabber(std::function<void(int)>& press) : press_(press) {}
  std::string grab(const HotKeyChord& chord) override { return chord.id == 2 ? "BadAccess" : ""; }
  void setPressedHandler(std::function<void(int)> handler) override { press_ = std::move(handler); }

 private:
  std::function<void(int)>& press_;
};

TEST(HotKeyManager, AChordHeldElsewhereIsLoggedAndLeftOutTheOthersFire) {
  testing::VirtualDispatcher dispatcher;
  testing::LogCapture log;
  std::function<void(int)> press;
  int fired = 0;
  {
    HotKeyManager manager(dispatcher, std::make_unique<FakeGrabber>(press));
    manager.onHotKey = [&] { ++fired; };
    manager.registerAll();
    EXPECT_EQ(manager.registeredIds(), (std::vector<int>{1, 3}));
    EXPECT_TRUE(log.contains("hotkey registered id=1 key=space modifiers=Alt+Space"));
    EXPECT_TRUE(log.contains("hotkey failed id=2 status=BadAccess"));
    EXPECT_TRUE(log.contains("hotkey registered id=3 key=space modifiers=Super+Shift+Space"));

    press(3);
    EXPECT_EQ(fired, 0) << "the press is handed to the main queue, not run inside the grabber";
    dispatcher.runUntilIdle();
    EXPECT_EQ(fired, 1);
    press(1);
  }
  dispatcher.runUntilIdle();  // a press pending when the manager went does nothing
  EXPECT_EQ(fired, 1);
}

TEST(DesktopSessionNotice, WaylandLimitsAreLoggedOnceAndShownToTheUser) {
  testing::LogCapture log;
  DesktopSessionNotice wayland(DesktopSessionType::wayland);
  const auto message = wayland.report();
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find("Alt"), std::string::npos);
  EXPECT_NE(message->find("复制面板"), std::string::npos);
  EXPECT_TRUE(wayland.report().has_value());
  EXPECT_EQ(log.count("wayland session limits"), 1u);

  DesktopSessionNotice x11(DesktopSessionType::x11);
  EXPECT_FALSE(x11.report().has_value());
  EXPECT_EQ(log.count("wayland session limits"), 1u);
}

}  // namespace
}  // namespace sorvane
