// The hotkey chords recognised from the kernel's keyboards, for Wayland sessions without
// the GlobalShortcuts portal. Nothing is grabbed: the space bar still reaches the focused
// window (a grab would need exclusive access to the device, which would take the whole
// keyboard from the desktop). A chord fires when the space bar goes down with exactly its
// modifiers held (either Control counts as Control). Main queue, like the source.
#pragma once

#include <functional>
#include <vector>

#include "input/hot_key_manager.h"

namespace sorvane::platform {

class EvdevKeyboardSource;

class EvdevHotKeyGrabber final : public HotKeyGrabber {
 public:
  // `source` must outlive the grabber.
  explicit EvdevHotKeyGrabber(EvdevKeyboardSource& source);
  ~EvdevHotKeyGrabber() override;
  EvdevHotKeyGrabber(const EvdevHotKeyGrabber&) = delete;
  EvdevHotKeyGrabber& operator=(const EvdevHotKeyGrabber&) = delete;

  // "NoInputDevices" when the source reads no keyboard.
  std::string grab(const HotKeyChord& chord) override;
  void setPressedHandler(std::function<void(int id)> handler) override { handler_ = std::move(handler); }

 private:
  EvdevKeyboardSource& source_;
  std::vector<HotKeyChord> chords_;
  std::function<void(int)> handler_;
};

}  // namespace sorvane::platform
