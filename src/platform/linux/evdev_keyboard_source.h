// Global keyboard observation from the kernel's input devices, for Wayland sessions where
// X11 raw events see only X11 windows. Each device is a file descriptor of
// `struct input_event` records (a /dev/input/event* node, or a pipe in the tests); key
// codes become the same semantic `KeyboardEvent`s the X11 source gives, fanned out to
// any number of observers.
//
// Devices are only read, never grabbed: the desktop keeps getting every key. Modifier
// state is the union of the keys held on all devices; a key-down while the key is held
// (or a kernel auto-repeat record) is a repeat, releases of keys never seen pressed are
// ignored, modifier repeats are not delivered. A device that fails or ends is dropped
// with one log line; the keys it held stop counting, and no release is made up for them
// (a made-up Alt release would read as an Alt tap). Our own virtual keyboard
// (`kUinputKeyboardName`) is skipped in discovery, so the paste chord never reads as a
// Control tap. The space bar with a chord's modifiers is also reported to the chord
// handler, for sessions without a desktop shortcut portal.
//
// Keyboards plugged in later are opened as udev announces them (`watchHotPlug`).
// Devices are read through QSocketNotifiers on the main thread; events are delivered
// there. While one of our own windows has focus, only `Scope::everywhere` observers get
// key events.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/keyboard_events.h"
#include "input/keyboard_observers.h"

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace sorvane::platform {

// The semantic key of a Linux key code (linux/input-event-codes.h). Codes are physical
// positions, so the digits are the same on every layout (as the X11 source gets from the
// shifted level on AZERTY), and the keypad digits do not depend on Num Lock. For the same
// reason the right Alt key is Alt (`rightAlt`) even where the layout makes it AltGr.
struct EvdevMappedKey {
  Key key = Key::other;
  int digit = -1;
  bool rightAlt = false;
};
EvdevMappedKey mapEvdevKey(uint16_t code);

// The hot-key modifier bits (`hotkey::…`) of the held semantic modifiers.
uint8_t hotKeyModifiers(uint8_t heldModifiers);

class EvdevKeyboardSource final : public KeyboardEventSource {
 public:
  // `ownWindowFocused` tells whether one of our windows has keyboard focus; when empty,
  // QGuiApplication::focusWindow is asked.
  explicit EvdevKeyboardSource(std::function<bool()> ownWindowFocused = {});
  ~EvdevKeyboardSource() override;
  EvdevKeyboardSource(const EvdevKeyboardSource&) = delete;
  EvdevKeyboardSource& operator=(const EvdevKeyboardSource&) = delete;

  // Opens every keyboard or pointer under `folder` (libevdev), read-only and without a
  // grab. Returns how many were opened. When devices exist but none could be opened for
  // lack of permission, logs "keyboard devices unreadable" once and `accessDenied()`
  // becomes true.
  int openDevices(const std::string& folder = "/dev/input");
  bool accessDenied() const { return accessDenied_; }
  // Opens keyboards plugged in later, as udev announces them; false without udev.
  bool watchHotPlug();

  // Reads `fd` (taken over, closed when the device ends) as one device named `name`.
  void addDevice(int fd, std::string name);
  size_t deviceCount() const { return devices_.size(); }

  // True once any device was added: only then are events delivered.
  bool available() const { return everAdded_; }
  Subscription observe(Scope scope, KeyboardObserver observer) override;

  // The modifier keys held now on all devices (`modifier::…` bits).
  uint8_t heldModifiers() const;

  // Called with the hot-key modifiers (`hotkey::…`) on each press of the space bar.
  void setSpaceHandler(std::function<void(uint8_t hotKeyModifiers)> handler) { spaceHandler_ = std::move(handler); }

 private:
  struct Device;
  enum class NodeResult { opened, denied, skipped };
  NodeResult openNode(const std::string& node);
  void readDevice(Device& device);
  void handleRecord(Device& device, uint16_t type, uint16_t code, int32_t value);
  void handleKey(Device& device, uint16_t code, int32_t value);
  void dropDevice(Device& device, const std::string& reason);
  void deliver(const KeyboardEvent& event);

  std::function<bool()> ownWindowFocused_;
  std::function<void(uint8_t)> spaceHandler_;
  std::vector<std::unique_ptr<Device>> devices_;
  KeyboardObservers observers_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::unique_ptr<QSocketNotifier> monitorNotifier_;
  bool everAdded_ = false;
  bool accessDenied_ = false;
};

}  // namespace sorvane::platform
