// The key events we inject ourselves (the paste chord), so that the raw keyboard source
// can drop them: our own Control+V must never reach the tap monitors as a left-Control
// press (it would show the style palette or count as a tap).
//
// The key synthesis records each event just before it sends it; the keyboard source
// consumes a raw event from the XTest device when it matches the oldest recorded one.
// Entries nobody consumed expire after a second (no keyboard source running). Main queue.
#pragma once

#include <chrono>
#include <deque>

#include "core/clock.h"

namespace sorvane::platform {

class X11SyntheticKeys {
 public:
  explicit X11SyntheticKeys(const Clock& clock) : clock_(clock) {}
  void expect(unsigned keycode, bool press);
  // True (and the entry is gone) when this event is the oldest one we injected.
  bool consume(unsigned keycode, bool press);
  bool empty() const { return expected_.empty(); }

  static constexpr std::chrono::milliseconds kExpiry{1000};

 private:
  struct Entry {
    unsigned keycode;
    bool press;
    std::chrono::steady_clock::time_point at;
  };
  void expire();
  const Clock& clock_;
  std::deque<Entry> expected_;
};

}  // namespace sorvane::platform
