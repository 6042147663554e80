// Serial queues, the dispatcher that owns them, one-shot timers and liveness tokens.
//
// Every piece of mutable state in the system is confined to one serial queue: the main
// queue (the Qt event loop of the main thread) or a labelled background queue
// ("app.sorvane.context", ...), each a thread with its own event loop so that network
// objects can live on it. Components receive a `Dispatcher` and reach their queues and
// clock through it; none starts threads or timers of its own. Tests use the
// virtual-time dispatcher of tests/support, where every timer of every queue fires in
// time order as the test advances the clock.
//
// Tasks posted to one queue run in posting order; a delayed task runs no earlier than its
// delay. `runSync` runs a task on the queue and waits for it (inline when already on
// it); never call it toward a queue that may itself be waiting on the caller.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sorvane {

class Clock;

using Task = std::function<void()>;
using Milliseconds = std::chrono::milliseconds;

class SerialQueue {
 public:
  virtual ~SerialQueue() = default;
  virtual const std::string& label() const = 0;
  virtual void post(Task task) = 0;
  virtual void postAfter(Milliseconds delay, Task task) = 0;
  virtual void runSync(const Task& task) = 0;
  virtual bool isCurrent() const = 0;
};

class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  virtual SerialQueue& mainQueue() = 0;
  // The queue with this label, created on first use; it lives as long as the dispatcher.
  virtual SerialQueue& queue(std::string_view label) = 0;
  virtual const Clock& clock() const = 0;
};

// A token whose weak references tell a late callback that its owner is gone. Check it
// on the owner's own queue: the owner is only destroyed there.
class LivenessToken {
 public:
  LivenessToken() : alive_(std::make_shared<char>(0)) {}
  std::weak_ptr<void> weak() const { return alive_; }
  // Wraps `task` so that it does nothing once this token is destroyed.
  Task guard(Task task) const {
    return [weak = weak(), task = std::move(task)] {
      if (weak.lock()) task();
    };
  }

 private:
  std::shared_ptr<char> alive_;
};

// A one-shot timer on a queue; restarting replaces the pending firing, and destroying
// the timer (or `cancel`) disarms it. Use it from the queue it fires on.
class OneShotTimer {
 public:
  OneShotTimer() = default;
  ~OneShotTimer() { cancel(); }
  OneShotTimer(const OneShotTimer&) = delete;
  OneShotTimer& operator=(const OneShotTimer&) = delete;

  void start(SerialQueue& queue, Milliseconds delay, Task task);
  void cancel();
  bool isRunning() const { return armed_ && *armed_; }

 private:
  std::shared_ptr<bool> armed_;
};

}  // namespace sorvane
