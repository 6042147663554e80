// Global keyboard and mouse observation on X11: XInput2 raw key and button events on the
// root window, turned into semantic `KeyboardEvent`s and fanned out to any number of
// observers in process.
//
// The source owns the one XInput2 event selection of its own Xlib connection; selecting
// again elsewhere on that connection would replace the mask and silently end every
// observer, so all observers share this one. Raw events see keys in every window; while
// one of our own windows has keyboard focus, only observers of `Scope::everywhere` get
// them. Events we injected ourselves (recorded in `X11SyntheticKeys`) are dropped. The
// connection is read through a QSocketNotifier on the main thread; events are delivered
// there. Without an X server or XInput 2.2, `observe` returns an empty subscription.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <memory>
#include <set>

#include "input/keyboard_events.h"
#include "input/keyboard_observers.h"

typedef struct _XDisplay Display;
class QSocketNotifier;

namespace sorvane::platform {

class X11SyntheticKeys;

class X11KeyboardEventSource final : public KeyboardEventSource {
 public:
  // `synthetic` may be null: then no injected event is recognised.
  explicit X11KeyboardEventSource(std::shared_ptr<X11SyntheticKeys> synthetic);
  ~X11KeyboardEventSource() override;
  X11KeyboardEventSource(const X11KeyboardEventSource&) = delete;
  X11KeyboardEventSource& operator=(const X11KeyboardEventSource&) = delete;

  bool available() const { return notifier_ != nullptr; }
  Subscription observe(Scope scope, KeyboardObserver observer) override;

 public:
  struct Mapped {
    Key key = Key::other;
    int digit = -1;
    bool rightAlt = false;
  };

 private:
  void drain();
  void handleRaw(int type, int sourceId, unsigned detail);
  Mapped map(unsigned keycode);
  void deliver(const KeyboardEvent& event);
  uint8_t heldModifiers();
  void findXTestDevices();

  Display* display_ = nullptr;
  int opcode_ = 0;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::shared_ptr<X11SyntheticKeys> synthetic_;
  KeyboardObservers observers_;
  std::set<int> xtestDevices_;
  std::array<bool, 256> down_{};
  std::array<std::optional<Mapped>, 256> mapping_{};
};

}  // namespace sorvane::platform
