// The Wayland start-up on a machine without input devices, /dev/uinput or a portal (as
// these test machines are): every fact false, each absence logged once, and the choice
// falls back to X11 windows and the copy panel. An X11 session probes nothing.
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/wayland_desktop.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

TEST(SessionWaylandDesktop, NoDevicesNoUinputNoPortal) {
  if (::access("/dev/input", F_OK) == 0 || ::access("/dev/uinput", F_OK) == 0) {
    GTEST_SKIP() << "this machine has input devices";
  }
  // No session bus at all, whatever the test machine has.
  const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  testing::LogCapture log;
  platform::WaylandDesktop desktop = platform::openWaylandDesktop(DesktopSessionType::wayland);
  EXPECT_EQ(desktop.facts.type, DesktopSessionType::wayland);
  EXPECT_FALSE(desktop.facts.inputDevicesReadable);
  EXPECT_FALSE(desktop.facts.uinputWritable);
  EXPECT_FALSE(desktop.facts.globalShortcutsPortal);
  if (saved) setenv("DBUS_SESSION_BUS_ADDRESS", saved->c_str(), 1); else unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_EQ(log.count("keyboard devices unavailable reason=no-input-folder"), 1u);
  EXPECT_EQ(log.count("paste keys unavailable reason=uinput-not-writable"), 1u);
  EXPECT_FALSE(desktop.paste->sendPasteChord(PasteChord::controlV));
  const DesktopBackends backends = chooseDesktopBackends(desktop.facts);
  EXPECT_EQ(backends.paste, PasteBackend::x11WindowsOnly);
  EXPECT_EQ(platform::makeHotKeyGrabber(desktop, backends.hotKeys), nullptr);

  const platform::WaylandDesktop x11 = platform::openWaylandDesktop(DesktopSessionType::x11);
  EXPECT_FALSE(x11.keyboards);
  EXPECT_FALSE(x11.paste);
}

}  // namespace
}  // namespace sorvane
