// XGrabKey for the hotkey chords on the root window of its own Xlib connection, each
// with every lock-modifier variant (none, Caps Lock, Num Lock, both) so the chords work
// whatever the lock state. A chord another program holds fails with "BadAccess" (the
// variants already grabbed are released again). Grabs are redone when the keyboard
// mapping changes. Presses are read through a QSocketNotifier on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "input/desktop_session_notice.h"
#include "input/hot_key_manager.h"

typedef struct _XDisplay Display;
class QSocketNotifier;

namespace sorvane::platform {

// The session type from the environment of the process (XDG_SESSION_TYPE,
// WAYLAND_DISPLAY), read once by the entry point.
DesktopSessionType detectDesktopSessionType();

class X11HotKeyGrabber final : public HotKeyGrabber {
 public:
  X11HotKeyGrabber();
  ~X11HotKeyGrabber() override;
  X11HotKeyGrabber(const X11HotKeyGrabber&) = delete;
  X11HotKeyGrabber& operator=(const X11HotKeyGrabber&) = delete;

  std::string grab(const HotKeyChord& chord) override;
  void setPressedHandler(std::function<void(int id)> handler) override { handler_ = std::move(handler); }

 private:
  struct Grab {
    int id;
    unsigned mask;
    unsigned keycode;
  };
  bool grabVariants(unsigned keycode, unsigned mask);
  void ungrabVariants(unsigned keycode, unsigned mask);
  void readModifierMasks();
  void drain();

  Display* display_ = nullptr;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void(int)> handler_;
  std::vector<HotKeyChord> chords_;
  std::vector<Grab> grabs_;
  unsigned altMask_ = 0, superMask_ = 0, numLockMask_ = 0;
};

}  // namespace sorvane::platform
