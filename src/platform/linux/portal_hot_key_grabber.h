// The hotkey chords through the desktop's GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts on the session bus), for Wayland sessions where
// XGrabKey reaches X11 windows only. The desktop owns the keys: it may show the user a
// dialog to confirm or change them, and it reports each press as an `Activated` signal.
//
// The portal is asynchronous, so `grab` only collects the chords and answers "" (the
// hotkey manager's "hotkey registered" line means "asked for" here); the first `grab`
// schedules one session and one binding for all chords on the next turn of the event
// loop. The outcome is logged: "hotkey portal bound ids=1,2,3", or "hotkey failed id=…
// status=portal-refused" / "status=no-portal" per chord. Each request waits at most
// `kPortalReplyLimit` for its answer. Main thread (Qt D-Bus delivers there).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/hot_key_manager.h"

namespace sorvane::platform {

inline constexpr std::chrono::milliseconds kPortalReplyLimit{30000};

// Whether the session bus (or the bus at `busAddress`) offers the GlobalShortcuts
// portal; one bounded property read.
bool globalShortcutsPortalAvailable(const std::string& busAddress = {});

class PortalHotKeyGrabber final : public HotKeyGrabber {
 public:
  // An empty `busAddress` is the session bus.
  explicit PortalHotKeyGrabber(const std::string& busAddress = {});
  ~PortalHotKeyGrabber() override;
  PortalHotKeyGrabber(const PortalHotKeyGrabber&) = delete;
  PortalHotKeyGrabber& operator=(const PortalHotKeyGrabber&) = delete;

  std::string grab(const HotKeyChord& chord) override;
  void setPressedHandler(std::function<void(int id)> handler) override;

  // The chord ids the portal bound (empty until it answered).
  const std::vector<int>& boundIds() const;
  // True once the binding ended, bound or not.
  bool settled() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sorvane::platform
