#include "platform/linux/evdev_hot_key_grabber.h"

#include "platform/linux/evdev_keyboard_source.h"

namespace sorvane::platform {

EvdevHotKeyGrabber::EvdevHotKeyGrabber(EvdevKeyboardSource& source) : source_(source) {
  source_.setSpaceHandler([this](uint8_t modifiers) {
    for (const HotKeyChord& chord : chords_) {
      if (chord.modifiers == modifiers && handler_) handler_(chord.id);
    }
  });
}

EvdevHotKeyGrabber::~EvdevHotKeyGrabber() { source_.setSpaceHandler({}); }

std::string EvdevHotKeyGrabber::grab(const HotKeyChord& chord) {
  if (!source_.available()) return "NoInputDevices";
  chords_.push_back(chord);
  return {};
}

}  // namespace sorvane::platform
