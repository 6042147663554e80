// The X11 key-synthesis adapter of text insertion: held modifiers from XQueryKeymap, the
// focused window's WM_CLASS (input focus, walking up to the window that carries the
// class; _NET_ACTIVE_WINDOW when the focus says nothing), and the paste chord through
// XTest on its own Xlib connection.
//
// Each injected event is recorded in the shared `X11SyntheticKeys` first, so the raw
// keyboard source drops it. Main queue only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "turn/key_synthesis.h"

typedef struct _XDisplay Display;

namespace sorvane::platform {

class X11SyntheticKeys;

class X11KeySynthesis final : public KeySynthesis {
 public:
  // `synthetic` may be null (no keyboard source to tell).
  explicit X11KeySynthesis(std::shared_ptr<X11SyntheticKeys> synthetic);
  ~X11KeySynthesis() override;
  X11KeySynthesis(const X11KeySynthesis&) = delete;
  X11KeySynthesis& operator=(const X11KeySynthesis&) = delete;

  // False without an X server or the XTest extension; then no chord can be sent.
  bool available() const { return display_ && xtest_; }

  bool userModifiersHeld() override;
  std::vector<std::string> focusedWindowClasses() override;
  bool sendPasteChord(PasteChord chord) override;
  // A press and release of Right Control, sent while the user holds the tap key alone: the
  // application in front then sees a chord, and a bare Alt no longer opens its menu bar
  // (a bare Super, the launcher). Control does nothing on its own in any application, and
  // with the tap key it makes no shortcut. False when nothing could be sent.
  bool sendTapMask();

 private:
  // Presses the keys in order and releases them in reverse, each recorded as ours first.
  void sendPressedInOrder(const std::vector<unsigned char>& codes);

  Display* display_ = nullptr;
  bool xtest_ = false;
  std::shared_ptr<X11SyntheticKeys> synthetic_;
  std::vector<unsigned> modifierKeycodes_;
};

}  // namespace sorvane::platform
