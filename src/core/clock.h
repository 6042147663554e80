// Time sources. Every component reads time through a `Clock` handed to it, never from
// the system directly, so that tests can run timing logic in virtual time.
//
// Wall time is milliseconds since 1970 (signed 64-bit, the unit of every turn
// timestamp); monotonic time is for measuring intervals and never goes backwards.
// Clocks may be read from any queue.
#pragma once

#include <chrono>
#include <cstdint>

namespace sorvane {

// Wall-clock milliseconds since 1970-01-01 UTC, truncated toward zero.
int64_t currentMilliseconds();

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t wallMilliseconds() const = 0;
  virtual std::chrono::steady_clock::time_point monotonicNow() const = 0;
};

class SystemClock final : public Clock {
 public:
  int64_t wallMilliseconds() const override { return currentMilliseconds(); }
  std::chrono::steady_clock::time_point monotonicNow() const override {
    return std::chrono::steady_clock::now();
  }
  static SystemClock& instance();
};

}  // namespace sorvane
