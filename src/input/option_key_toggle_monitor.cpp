#include "input/option_key_toggle_monitor.h"

#include <string>

#include "core/log.h"

namespace sorvane {

OptionKeyToggleMonitor::OptionKeyToggleMonitor(Dispatcher& dispatcher, TapKey tapKey)
    : tapKey_(tapKey),
      taps_(dispatcher, kTapWindow,
            {"option toggle ignored debounce", "option key single tap", "option key double tap",
             "option key triple tap"}) {}

bool OptionKeyToggleMonitor::start(KeyboardEventSource& source) {
  subscription_ = source.observe(KeyboardEventSource::Scope::everywhere,
                                 [this](const KeyboardEvent& event) { handle(event); });
  if (!subscription_) return false;
  appLog("option key toggle monitor started key=" + std::string(tapKeyWord(tapKey_)));
  return true;
}

void OptionKeyToggleMonitor::setTapKey(TapKey key) {
  tapKey_ = key;
  optionIsDown_ = false;
  standaloneCandidate_ = false;
  appLog("option key toggle monitor key=" + std::string(tapKeyWord(key)));
}

void OptionKeyToggleMonitor::handle(const KeyboardEvent& event) {
  switch (event.type) {
    case KeyboardEvent::Type::mouseDown:
    case KeyboardEvent::Type::keyDown:
      if (optionIsDown_) standaloneCandidate_ = false;
      return;
    case KeyboardEvent::Type::keyUp:
      return;
    case KeyboardEvent::Type::modifierChanged:
      break;
  }
  const bool other = otherModifiers(tapKey_, event.modifiers) != 0;
  if (tapKeyHeld(tapKey_, event.modifiers)) {
    if (!optionIsDown_) {
      optionIsDown_ = true;
      standaloneCandidate_ = !other;
      if (standaloneCandidate_ && onTapKeyDownAlone && bareTapHasSideEffects(tapKey_)) onTapKeyDownAlone();
    } else if (other) {
      standaloneCandidate_ = false;
    }
  } else if (optionIsDown_) {
    const bool candidate = standaloneCandidate_;
    optionIsDown_ = false;
    standaloneCandidate_ = false;
    if (candidate && !other) taps_.trigger(onSingleTap, onDoubleTap, onTripleTap);
  }
}

}  // namespace sorvane
