// The application log: one timestamped line per notable event.
//
// `appLog` may be called from any thread or queue; it never fails toward the caller.
// Each line is "YYYY-MM-DD HH:MM:SS +0000 <message>\n" in UTC, written with a single
// write call to a file opened append-only, without following symbolic links, with mode
// 0600, and only when the file belongs to the current user (a shared /tmp path must not
// let another user redirect or read our writes).
//
// Lines go to the target installed by a `ScopedLogTarget`: the entry point installs the
// log path of its `Paths`; tests install one to capture lines or to point the log at a
// temporary file. With no target installed a line goes nowhere, so code under test never
// writes to the shared log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sorvane {

void appLog(std::string_view message);

// "2026-12-06 10:45:11 +0000" for a wall time in milliseconds since 1970.
std::string formatLogTimestamp(int64_t epochMilliseconds);
// The whole line as written, line feed included.
std::string formatLogLine(int64_t epochMilliseconds, std::string_view message);

// Appends `line` to `path` with the safety rules above. Returns false when nothing was
// written (the caller of appLog never sees this).
bool appendLineSafely(const std::string& path, std::string_view line);

// While alive, log lines go to `path` (or to `sink`, which receives each message
// without timestamp); the previous target returns when it is destroyed.
class ScopedLogTarget {
 public:
  explicit ScopedLogTarget(std::string path);
  explicit ScopedLogTarget(std::function<void(std::string_view message)> sink);
  ~ScopedLogTarget();
  ScopedLogTarget(const ScopedLogTarget&) = delete;
  ScopedLogTarget& operator=(const ScopedLogTarget&) = delete;

  struct Target;  // defined in log.cpp

 private:
  Target* previous_;
  Target* own_;
};

}  // namespace sorvane
