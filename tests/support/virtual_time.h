// A dispatcher and clock that run in virtual time, for tests of timing logic.
//
// Everything runs on the test's thread. Posted and delayed tasks of every queue wait in
// one list ordered by due time (and posting order for equal times); `advance` moves the
// clock forward, firing each task at its own due time, so debounce windows, finish
// timeouts, drains and observation limits are tested exactly and without sleeping.
// `isCurrent` is true for the queue whose task is running; `runSync` toward another
// queue runs the task at once as that queue.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/dispatch.h"

namespace sorvane::testing {

class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(int64_t startWallMs = 1'765'000'000'000) : wallStart_(startWallMs) {}
  int64_t wallMilliseconds() const override { return wallStart_ + elapsedMs_; }
  std::chrono::steady_clock::time_point monotonicNow() const override {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(elapsedMs_));
  }
  int64_t elapsedMs() const { return elapsedMs_; }
  void setElapsed(int64_t ms) { elapsedMs_ = ms; }

 private:
  int64_t wallStart_;
  int64_t elapsedMs_ = 0;
};

class VirtualDispatcher final : public Dispatcher {
 public:
  VirtualDispatcher();
  ~VirtualDispatcher() override;

  SerialQueue& mainQueue() override;
  SerialQueue& queue(std::string_view label) override;
  const Clock& clock() const override { return clock_; }
  VirtualClock& virtualClock() { return clock_; }

  // Runs every task due now (including tasks they post for now).
  void runUntilIdle();
  // Moves time forward by `delta`, running each task at its due time.
  void advance(Milliseconds delta);
  // Moves time to the next pending task and runs it; false when nothing is pending.
  bool runNext();
  std::size_t pendingCount() const { return pending_.size(); }

 private:
  class Queue;
  friend class Queue;
  struct Pending {
    Queue* queue;
    Task task;
  };
  void schedule(Queue* queue, int64_t dueMs, Task task);
  void runOne(std::multimap<std::pair<int64_t, uint64_t>, Pending>::iterator it);

  VirtualClock clock_;
  std::multimap<std::pair<int64_t, uint64_t>, Pending> pending_;
  uint64_t sequence_ = 0;
  Queue* current_ = nullptr;
  std::unique_ptr<Queue> main_;
  std::map<std::string, std::unique_ptr<Queue>, std::less<>> queues_;
};

}  // namespace sorvane::testing
