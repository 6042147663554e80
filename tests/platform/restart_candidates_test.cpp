#include "platform/linux/restart_candidates.h"

#include <gtest/gtest.h>

#include <string>

namespace sorvane::platform {
namespace {

using namespace std::string_literals;

TEST(RestartCandidates, QtBeforeTheSwitchAndChromiumWithoutItNeedARestart) {
  const std::string qt6 = "7f00-7f10 r-xp 0 08:01 12 /usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2\n";
  const std::string qt5 = "7f00-7f10 r-xp 0 08:01 12 /usr/lib/x86_64-linux-gnu/libQt5Gui.so.5.15.8\n";
  const std::string gtk = "7f00-7f10 r-xp 0 08:01 12 /usr/lib/x86_64-linux-gnu/libgtk-3.so.0\n";
  const std::string plain = "/usr/lib/chromium/chromium\0--enable-remote-extensions\0"s;
  const std::string flagged = "/usr/lib/chromium/chromium\0--force-renderer-accessibility\0https://x\0"s;
  struct Case {
    std::string maps, cmdline;
    bool chromium, switchedOnNow;
    std::optional<RestartReason> reason;
  } cases[] = {
      {qt6, "", false, true, RestartReason::qtStartedBeforeTheSwitch},
      {qt5, "", false, true, RestartReason::qtStartedBeforeTheSwitch},
      {qt6, "", false, false, std::nullopt},  // the switch was on before it started
      {gtk, "", false, true, std::nullopt},   // GTK follows the switch while it runs
      {"", plain, true, false, RestartReason::chromiumWithoutTheSwitch},
      {"", flagged, true, true, std::nullopt},
      // The flag's text inside another argument is not the flag.
      {"", "/opt/app/app\0--js-flags=--force-renderer-accessibility\0"s, true, true,
       RestartReason::chromiumWithoutTheSwitch},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(restartReason(c.maps, c.cmdline, c.chromium, c.switchedOnNow), c.reason) << c.maps << c.cmdline;
  }
}

}  // namespace
}  // namespace sorvane::platform
