#include "input/control_style_key_monitor.h"

#include <string>

#include "core/log.h"

namespace sorvane {

ControlStyleKeyMonitor::ControlStyleKeyMonitor(Dispatcher& dispatcher)
    : dispatcher_(dispatcher),
      taps_(dispatcher, kTapWindow,
            {"left control tap ignored debounce", "left control key single tap", "left control key double tap",
             "left control key triple tap"}) {}

bool ControlStyleKeyMonitor::start(KeyboardEventSource& source) {
  subscription_ = source.observe(KeyboardEventSource::Scope::everywhere,
                                 [this](const KeyboardEvent& event) { handle(event); });
  if (!subscription_) return false;
  appLog("left control style key monitor started");
  return true;
}

void ControlStyleKeyMonitor::paletteHoldReached(uint64_t generation) {
  if (generation != holdGeneration_ || !leftControlIsDown_ || paletteVisible_ || !allowed()) return;
  paletteVisible_ = true;
  preview(std::nullopt);
  if (onModePaletteShow) onModePaletteShow();
}

bool ControlStyleKeyMonitor::handle(const KeyboardEvent& event) {
  if (event.type == KeyboardEvent::Type::mouseDown) {
    if (leftControlIsDown_) {
      standaloneCandidate_ = false;
      endPaletteGesture();
    }
    return false;
  }
  if (event.type == KeyboardEvent::Type::modifierChanged) {
    if (event.key != Key::leftControl) {
      // Ctrl+Shift, Ctrl+Alt, ... are shortcuts too: no palette, but still a tap.
      if (leftControlIsDown_) endPaletteGesture();
      return false;
    }
    const bool down = (event.modifiers & modifier::leftControl) != 0;
    if (down && !leftControlIsDown_) {
      leftControlIsDown_ = true;
      standaloneCandidate_ = true;
      pendingStyleDigit_.reset();
      endPaletteGesture();
      // Pressed while another modifier is held: a chord, never the palette.
      if (event.modifiers == modifier::leftControl) {
        dispatcher_.mainQueue().postAfter(
            kPaletteHold, liveness_.guard([this, generation = holdGeneration_] { paletteHoldReached(generation); }));
      }
    } else if (!down && leftControlIsDown_) {
      leftControlIsDown_ = false;
      endPaletteGesture();
      if (paletteVisible_) {
        paletteVisible_ = false;
        preview(std::nullopt);
        if (onModePaletteHide) onModePaletteHide();
      }
      if (pendingStyleDigit_) {
        const int digit = *pendingStyleDigit_;
        pendingStyleDigit_.reset();
        standaloneCandidate_ = false;
        appLog("left control style digit released=" + std::to_string(digit));
        if (onStyleDigit) onStyleDigit(digit);
      } else if (standaloneCandidate_) {
        taps_.trigger(onSingleTap, onDoubleTap, onTripleTap);
      }
      standaloneCandidate_ = false;
    }
    return false;
  }
  if (event.type != KeyboardEvent::Type::keyDown || !leftControlIsDown_) return false;
  if (!paletteVisible_) {
    // The application's shortcut (a repeat too: a key was held before Control).
    endPaletteGesture();
    if (!event.isRepeat) standaloneCandidate_ = false;
    return false;
  }
  if (event.isRepeat) return false;
  standaloneCandidate_ = false;
  const std::optional<int> digit = event.styleDigit();
  if (!digit || !allowed()) return false;
  pendingStyleDigit_ = digit;
  preview(digit);
  appLog("left control style digit selected=" + std::to_string(*digit));
  return true;
}

}  // namespace sorvane
