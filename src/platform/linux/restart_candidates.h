// The running applications whose fields stay hidden from us until they are restarted:
// Qt applications that were started before the desktop's accessibility switch went on
// (Qt reads it once, at start), and Chromium-based browsers and Electron applications
// started without `--force-renderer-accessibility` (they ignore the switch). The app
// tells the user about them once, right after the start sequence switched accessibility
// on.
//
// `runningApplicationsNeedingRestart` lists the X clients (_NET_CLIENT_LIST, or the
// root's children without a window manager; their _NET_WM_PID and WM_CLASS) and reads
// each process's libraries, program folder and command line under `procRoot`. It opens
// its own short X connection and reads a few small files per window; call it from the
// main queue once per start. Without X (a Wayland session) it finds nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::platform {

enum class RestartReason { qtStartedBeforeTheSwitch, chromiumWithoutTheSwitch };

struct RestartCandidate {
  std::string name;  // the window class, "FeatherPad", "Chromium"
  RestartReason reason;
};

// From one process: `maps` is its /proc maps text, `cmdline` its NUL-separated command
// line, `chromiumProgram` whether its program's folder holds Chromium's resource packs.
// Qt counts only when `switchedOnNow` (it was off until this start).
std::optional<RestartReason> restartReason(std::string_view maps, std::string_view cmdline, bool chromiumProgram,
                                           bool switchedOnNow);

std::vector<RestartCandidate> runningApplicationsNeedingRestart(bool switchedOnNow, int ownPid,
                                                                const std::string& procRoot = "/proc");

}  // namespace sorvane::platform
