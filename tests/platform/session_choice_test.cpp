// The desktop adapters chosen from the session and what it allows, as one table; the
// log line and the user message follow from the choice.
#include <gtest/gtest.h>

#include "input/desktop_session_choice.h"

namespace sorvane {
namespace {

using T = DesktopSessionType;
using K = KeyTapBackend;
using H = HotKeyBackend;
using P = PasteBackend;

TEST(SessionChoice, Table) {
  const struct {
    DesktopSessionFacts facts;  // type, devices readable, uinput writable, portal
    DesktopBackends expected;
  } cases[] = {
      // X11 goes through the X server whatever else is there.
      {{T::x11, false, false, false}, {K::x11RawEvents, H::x11Grab, P::x11Keys}},
      {{T::x11, true, true, true}, {K::x11RawEvents, H::x11Grab, P::x11Keys}},
      {{T::unknown, false, false, false}, {K::x11RawEvents, H::x11Grab, P::x11Keys}},
      // Wayland with device access: the kernel's keyboards, the portal for chords where it is.
      {{T::wayland, true, true, true}, {K::inputDevices, H::desktopPortal, P::virtualKeyboard}},
      {{T::wayland, true, true, false}, {K::inputDevices, H::inputDevices, P::virtualKeyboard}},
      // Without device access: taps only in X11 windows; chords through the portal if any.
      {{T::wayland, false, true, true}, {K::x11WindowsOnly, H::desktopPortal, P::virtualKeyboard}},
      {{T::wayland, false, false, false}, {K::x11WindowsOnly, H::x11WindowsOnly, P::x11WindowsOnly}},
      // Devices readable but /dev/uinput not writable: paste reaches X11 windows only.
      {{T::wayland, true, false, true}, {K::inputDevices, H::desktopPortal, P::x11WindowsOnly}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(desktopBackendsLogLine(c.facts.type, c.expected));
    EXPECT_EQ(chooseDesktopBackends(c.facts), c.expected);
  }
}

TEST(SessionChoice, LogLineAndUserMessage) {
  const DesktopBackends full = chooseDesktopBackends({T::wayland, true, true, true});
  EXPECT_EQ(desktopBackendsLogLine(T::wayland, full),
            "desktop session type=wayland key-taps=input-devices hotkeys=portal paste=virtual-keyboard");
  EXPECT_EQ(desktopBackendsUserMessage(full), std::nullopt);
  EXPECT_EQ(desktopBackendsUserMessage(chooseDesktopBackends({T::x11, false, false, false})), std::nullopt);

  // Without device access the message says so and points at the chords when the portal has them.
  const auto withPortal = desktopBackendsUserMessage(chooseDesktopBackends({T::wayland, false, true, true}));
  ASSERT_TRUE(withPortal);
  EXPECT_NE(withPortal->find("input"), std::string::npos);
  EXPECT_NE(withPortal->find("请使用 Alt+Space"), std::string::npos);
  EXPECT_EQ(withPortal->find("uinput"), std::string::npos);

  const auto nothing = desktopBackendsUserMessage(chooseDesktopBackends({T::wayland, false, false, false}));
  ASSERT_TRUE(nothing);
  EXPECT_NE(nothing->find("快捷键也是如此"), std::string::npos);
  EXPECT_NE(nothing->find("复制面板"), std::string::npos);
}

}  // namespace
}  // namespace sorvane
