// The three global chords that toggle dictation: Alt+Space, Control+Alt+Space and
// Super+Shift+Space. Each is grabbed through the `HotKeyGrabber` port (XGrabKey on X11,
// platform/linux/x11_hot_key_grabber.h); a chord another program holds is logged with
// "hotkey failed" and left out, the others still work. Any press schedules `onHotKey` on
// the main queue. Lives on the main queue.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/dispatch.h"

namespace sorvane {

namespace hotkey {
inline constexpr uint8_t control = 1 << 0;
inline constexpr uint8_t alt = 1 << 1;
inline constexpr uint8_t shift = 1 << 2;
inline constexpr uint8_t super = 1 << 3;
}  // namespace hotkey

// A chord of modifiers with the space bar.
struct HotKeyChord {
  int id;
  uint8_t modifiers;
  std::string_view name;  // as a user reads it
};

inline constexpr std::array<HotKeyChord, 3> kHotKeyChords = {{
    {1, hotkey::alt, "Alt+Space"},
    {2, hotkey::control | hotkey::alt, "Control+Alt+Space"},
    {3, hotkey::super | hotkey::shift, "Super+Shift+Space"},
}};

class HotKeyGrabber {
 public:
  virtual ~HotKeyGrabber() = default;
  // Grabs the chord for the whole desktop; empty on success, else the failure status.
  virtual std::string grab(const HotKeyChord& chord) = 0;
  // Called with the chord's id on each press.
  virtual void setPressedHandler(std::function<void(int id)> handler) = 0;
};

class HotKeyManager {
 public:
  HotKeyManager(Dispatcher& dispatcher, std::unique_ptr<HotKeyGrabber> grabber);
  // Grabs every chord of the table, logging each result.
  void registerAll();
  const std::vector<int>& registeredIds() const { return registered_; }

  std::function<void()> onHotKey;

 private:
  Dispatcher& dispatcher_;
  std::unique_ptr<HotKeyGrabber> grabber_;
  std::vector<int> registered_;
  LivenessToken liveness_;
};

}  // namespace sorvane
