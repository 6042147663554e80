// Counting of bare modifier taps into single, double and triple taps, shared by the
// Alt (Option) and left-Control monitors.
//
// A tap within 0.08 s of the previous accepted one is ignored as debounce. A tap within
// the monitor's tap window of the previous tap raises the count; the count resets after a
// triple tap or one tap window after the last tap. Every tap fires its callback at once,
// so a double tap is a single tap followed by a double tap. Lives on the main queue.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "core/dispatch.h"

namespace sorvane {

class TapCounter {
 public:
  struct Words {
    std::string debounce;  // log line of an ignored tap
    std::string single;
    std::string dbl;
    std::string triple;
  };

  TapCounter(Dispatcher& dispatcher, Milliseconds tapWindow, Words words);

  // Runs the tap trigger; exactly one of the callbacks (or none, on debounce) is called.
  void trigger(const std::function<void()>& onSingle, const std::function<void()>& onDouble,
               const std::function<void()>& onTriple);

  int tapCount() const { return tapCount_; }

  static constexpr Milliseconds kDebounce{80};

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  Dispatcher& dispatcher_;
  Milliseconds tapWindow_;
  Words words_;
  std::optional<TimePoint> lastTriggerAt_;
  std::optional<TimePoint> lastTapAt_;
  int tapCount_ = 0;
  LivenessToken liveness_;
};

}  // namespace sorvane
