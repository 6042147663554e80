#include "input/tap_counter.h"

#include "core/clock.h"
#include "core/log.h"

namespace sorvane {

TapCounter::TapCounter(Dispatcher& dispatcher, Milliseconds tapWindow, Words words)
    : dispatcher_(dispatcher), tapWindow_(tapWindow), words_(std::move(words)) {}

void TapCounter::trigger(const std::function<void()>& onSingle, const std::function<void()>& onDouble,
                         const std::function<void()>& onTriple) {
  const TimePoint now = dispatcher_.clock().monotonicNow();
  if (lastTriggerAt_ && now - *lastTriggerAt_ <= kDebounce) {
    appLog(words_.debounce);
    return;
  }
  lastTriggerAt_ = now;
  tapCount_ = (lastTapAt_ && now - *lastTapAt_ <= tapWindow_) ? tapCount_ + 1 : 1;
  lastTapAt_ = now;

  // The reset check is scheduled before the callback runs, so a callback that re-enters
  // the monitor sees a consistent state.
  dispatcher_.mainQueue().postAfter(tapWindow_, liveness_.guard([this, now] {
    if (lastTapAt_ == now) {
      tapCount_ = 0;
      lastTapAt_.reset();
    }
  }));

  if (tapCount_ == 1) {
    appLog(words_.single);
    if (onSingle) onSingle();
  } else if (tapCount_ == 2) {
    appLog(words_.dbl);
    if (onDouble) onDouble();
  } else {
    appLog(words_.triple);
    tapCount_ = 0;
    lastTapAt_.reset();
    if (onTriple) onTriple();
  }
}

}  // namespace sorvane
