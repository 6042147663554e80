// The left-Control monitor: bare taps (single, double, triple) and holds with a style
// digit. Holding left Control shows the mode palette (when `shouldHandle` allows);
// pressing a digit 1-8 of the main row or the keypad while holding selects a style
// preset, committed when Control is released; a bare tap runs the tap trigger with a
// 0.3 s window. Right Control is ignored; other modifiers and the mouse do not cancel a
// tap, any other key does.
//
// `start` subscribes to the keyboard source for events everywhere. Lives on the main
// queue; callbacks run there.
#pragma once

#include <functional>
#include <optional>

#include "input/keyboard_events.h"
#include "input/tap_counter.h"

namespace sorvane {

class ControlStyleKeyMonitor {
 public:
  explicit ControlStyleKeyMonitor(Dispatcher& dispatcher);

  bool start(KeyboardEventSource& source);
  // True when the event was consumed as a style digit (a window of ours would swallow it).
  bool handle(const KeyboardEvent& event);

  // When unset the monitor behaves as if it returned true.
  std::function<bool()> shouldHandle;
  std::function<void()> onSingleTap;
  std::function<void()> onDoubleTap;
  std::function<void()> onTripleTap;
  std::function<void()> onModePaletteShow;
  std::function<void()> onModePaletteHide;
  std::function<void(std::optional<int>)> onStyleDigitPreview;
  std::function<void(int)> onStyleDigit;

  static constexpr Milliseconds kTapWindow{300};

 private:
  bool allowed() const { return !shouldHandle || shouldHandle(); }
  void preview(std::optional<int> digit) {
    if (onStyleDigitPreview) onStyleDigitPreview(digit);
  }

  TapCounter taps_;
  bool leftControlIsDown_ = false;
  bool standaloneCandidate_ = false;
  std::optional<int> pendingStyleDigit_;
  bool paletteVisible_ = false;
  Subscription subscription_;
};

}  // namespace sorvane
