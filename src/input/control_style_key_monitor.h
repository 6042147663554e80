// The left-Control monitor: bare taps (single, double, triple) and the style palette.
//
// Control is the everyday shortcut key on Linux (Ctrl+C, Ctrl+S, Ctrl+1..8 switching tabs),
// so the palette waits for a gesture no shortcut makes: left Control held alone, with no
// other key and no mouse button, for `kPaletteHold`. Only then is the palette shown (when
// `shouldHandle` allows at that moment). Any key (a digit included), another modifier or a
// mouse press before that ends the gesture: no palette, no style, and the key belongs to
// the application's shortcut. While the palette is shown, a digit 1-8 of the main row or
// the keypad selects a style preset, committed when Control is released.
//
// A bare tap runs the tap trigger with a 0.3 s window (a single tap stops a recording, a
// double tap is the translation, a triple tap the cipher). Other modifiers do not cancel a
// tap; any other key and the mouse do, so two Ctrl+clicks are no double tap. Right Control
// is ignored (it may be the tap key of the Option monitor).
//
// `start` subscribes to the keyboard source for events everywhere. Lives on the main
// queue; callbacks run there.
#pragma once

#include <cstdint>
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
  // How long left Control must be held alone before the palette shows.
  static constexpr Milliseconds kPaletteHold{400};

 private:
  bool allowed() const { return !shouldHandle || shouldHandle(); }
  void preview(std::optional<int> digit) {
    if (onStyleDigitPreview) onStyleDigitPreview(digit);
  }
  // Ends a palette gesture that has not shown the palette yet.
  void endPaletteGesture() { ++holdGeneration_; }
  void paletteHoldReached(uint64_t generation);

  Dispatcher& dispatcher_;
  TapCounter taps_;
  bool leftControlIsDown_ = false;
  bool standaloneCandidate_ = false;
  std::optional<int> pendingStyleDigit_;
  bool paletteVisible_ = false;
  // Each press of left Control, and each end of its gesture, gets a new number; the hold
  // check shows the palette only when the number is still the one it was posted with.
  uint64_t holdGeneration_ = 0;
  LivenessToken liveness_;
  Subscription subscription_;
};

}  // namespace sorvane
