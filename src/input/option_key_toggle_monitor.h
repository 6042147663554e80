// The tap-key (Option) monitor: a bare tap of the tap key (by default Alt on either side;
// see tap_key.h) toggles dictation, a double tap switches to English translation, a triple
// tap to the Morse cipher.
//
// A tap counts only when the key was pressed and released with nothing else in between:
// any other key, a mouse button or another modifier held with it cancels the tap. Taps are
// counted with a 0.28 s window (see TapCounter). When the tap key goes down alone and a
// bare tap of it has side effects (see tap_key.h), `onTapKeyDownAlone` runs: the desktop
// sends a harmless key then, so the application in front sees a chord, not a bare tap.
// That key is ours and never reaches the monitor. `start` subscribes to the keyboard
// source for events everywhere, including our own windows. Lives on the main queue;
// callbacks run there.
#pragma once

#include <functional>

#include "input/keyboard_events.h"
#include "input/tap_key.h"
#include "input/tap_counter.h"

namespace sorvane {

class OptionKeyToggleMonitor {
 public:
  explicit OptionKeyToggleMonitor(Dispatcher& dispatcher, TapKey tapKey = kDefaultTapKey);

  // Subscribes to `source`; false (and no log line) when the source refuses.
  bool start(KeyboardEventSource& source);
  // The monitor's reaction to one event; public so the logic is testable without a source.
  void handle(const KeyboardEvent& event);

  std::function<void()> onSingleTap;
  std::function<void()> onDoubleTap;
  std::function<void()> onTripleTap;
  std::function<void()> onTapKeyDownAlone;

  TapKey tapKey() const { return tapKey_; }
  // Another tap key from now on (the settings page); a press of the old key in progress
  // no longer counts.
  void setTapKey(TapKey key);

  static constexpr Milliseconds kTapWindow{280};

 private:
  TapKey tapKey_;
  TapCounter taps_;
  bool optionIsDown_ = false;
  bool standaloneCandidate_ = false;
  Subscription subscription_;
};

}  // namespace sorvane
