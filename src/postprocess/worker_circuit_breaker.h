// The worker endpoint's circuit breaker: after a failed worker call, further turns skip
// the worker for a while and take the local text straight away.
//
// There is no threshold: the first failure opens the breaker (90 s after a transport
// error, 60 s after a bad response) and only a successful worker reply closes it; the
// failure counter appears only in the log line. One breaker serves the whole process:
// the composition root creates it and hands the same instance to every refiner (the
// application's and the benchmark's). It is confined to the main queue, where the
// refiners run their decisions, and measures its cool-down on the monotonic clock so a
// wall-clock step cannot shorten or stretch it.
#pragma once

#include <chrono>
#include <cstdint>

#include "core/dispatch.h"

namespace sorvane {

class Clock;

inline constexpr Milliseconds kWorkerTransportErrorCooldown{90000};
inline constexpr Milliseconds kWorkerBadResponseCooldown{60000};

class WorkerCircuitBreaker {
 public:
  explicit WorkerCircuitBreaker(const Clock& clock) : clock_(clock) {}
  WorkerCircuitBreaker(const WorkerCircuitBreaker&) = delete;
  WorkerCircuitBreaker& operator=(const WorkerCircuitBreaker&) = delete;

  bool isOpen() const;
  // Counts a failure and opens the breaker for `cooldown` from now; logs
  // "worker circuit breaker enabled failures=<n> cooldownMs=<ms>".
  void registerFailure(Milliseconds cooldown);
  // A successful worker reply: counter and open-until back to zero.
  void reset();

  int64_t failureCount() const { return failures_; }

 private:
  const Clock& clock_;
  int64_t failures_ = 0;
  std::chrono::steady_clock::time_point openUntil_{};
  bool everOpened_ = false;
};

}  // namespace sorvane
