// The key-synthesis port of text insertion: whether the user is holding a modifier key,
// which window has keyboard focus now, and the synthetic paste chord.
//
// The Linux adapter is platform/linux/x11_key_synthesis.h (XQueryKeymap, the focused
// window's WM_CLASS, XTest); tests use a fake. Used on the main queue only.
#pragma once

#include <string>
#include <vector>

namespace sorvane {

// Control+V for most windows, Control+Shift+V for terminals; Shift+Insert for xterm, where
// Control+Shift+V types a literal ^V and Shift+Insert pastes the PRIMARY selection.
enum class PasteChord { controlV, controlShiftV, shiftInsert };

class KeySynthesis {
 public:
  virtual ~KeySynthesis() = default;
  // True while any Shift, Control, Alt, Super or AltGr key is physically down.
  virtual bool userModifiersHeld() = 0;
  // The class names (WM_CLASS instance and class, lower-case) of the window that has
  // keyboard focus now; empty when unknown.
  virtual std::vector<std::string> focusedWindowClasses() = 0;
  // Sends the chord as key presses and releases; false when nothing could be sent.
  virtual bool sendPasteChord(PasteChord chord) = 0;
};

}  // namespace sorvane
