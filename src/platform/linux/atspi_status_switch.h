// Switches the desktop's accessibility on at start, as screen readers do: Qt, Chromium and
// Electron applications expose their widgets on the AT-SPI bus only while the bus's
// `org.a11y.Status` `IsEnabled` property is true, and on most desktops nothing sets it.
//
// `switchAccessibilityOn` reads the property (session bus, service org.a11y.Bus, object
// /org/a11y/bus); when it is off it sets it to true, waits for the reply, reads it back
// and logs one line: "accessibility already on", "accessibility enabled ..." or
// "accessibility switch failed reason=...". Every call is asynchronous and waits at most
// `kAccessibilitySwitchReplyLimit`, so the start never waits for it and never fails on
// it. Main thread (Qt D-Bus delivers the replies there).
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace sorvane::platform {

inline constexpr std::chrono::milliseconds kAccessibilitySwitchReplyLimit{2000};

struct AccessibilitySwitchResult {
  enum class Outcome { alreadyOn, enabled, failed } outcome = Outcome::failed;
  std::string reason;  // failed: which step and what the bus said
};

// The log line for `result`.
std::string accessibilitySwitchLogLine(const AccessibilitySwitchResult& result);

// Runs the switch; `done` (optional) gets the result from the event loop, after the line
// is logged, never inside this call. An empty `busAddress` is the session bus.
void switchAccessibilityOn(std::function<void(const AccessibilitySwitchResult&)> done = {},
                           const std::string& busAddress = {});

}  // namespace sorvane::platform
