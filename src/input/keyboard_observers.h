// What every keyboard adapter does the same way once it has a key record: the bookkeeping
// of keys held down and the fan-out to observers.
//
// `keyTransition` turns one press or release of a key code into the event observers see:
// a press while the key is down is an auto-repeat, a release of a key never seen pressed
// means nothing, and a modifier's repeat is not delivered. The adapter keeps one `down`
// flag per key code, passes the flag as it was before the record and sets it to `press`,
// and fills in the modifiers held afterwards with `modifierBits` of each held key (which
// only it can compute: one keyboard on X11, the union of all devices under evdev).
//
// `KeyboardObservers` holds the observers of one source. `add` returns the subscription
// that removes its observer; `deliver` calls each in order of registration, skipping the
// `outsideOwnWindows` ones while one of our own windows has focus. An observer may remove
// itself or another while it runs. Main queue, like the adapters.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "input/keyboard_events.h"

namespace sorvane {

// `rightAlt` tells which Alt key it was (ignored for other keys).
std::optional<KeyboardEvent> keyTransition(bool wasDown, bool press, Key key, int digit, bool rightAlt = false);

class KeyboardObservers {
 public:
  Subscription add(KeyboardEventSource::Scope scope, KeyboardObserver observer);
  void deliver(const KeyboardEvent& event, bool ownWindowFocused) const;
  bool empty() const { return registry_->entries.empty(); }

 private:
  struct Registry {
    struct Entry {
      KeyboardEventSource::Scope scope;
      KeyboardObserver observer;
    };
    std::map<uint64_t, Entry> entries;
    uint64_t next = 1;
  };
  std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
};

}  // namespace sorvane
