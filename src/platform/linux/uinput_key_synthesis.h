// The key-synthesis port on Wayland: our own virtual keyboard through /dev/uinput, which
// the compositor treats like any other keyboard, so the paste chord reaches Wayland-native
// windows too. No helper daemon: the device is created once, when the adapter is built
// (a compositor needs a moment to take a new keyboard in, so creating it per paste would
// lose the first chord), and destroyed with the adapter.
//
// When /dev/uinput cannot be opened for writing, or the device cannot be set up, the
// adapter logs "paste keys unavailable reason=…" once, `available()` is false and
// `sendPasteChord` sends nothing (text insertion then falls back to the copy panel).
// System calls go through `UinputSystem` so the tests record the setup ioctls and the
// event records. Held modifiers and the focused window's classes are not visible to a
// uinput device; they come from the functions handed in (the evdev source, the
// accessibility tree). Shift+Insert (xterm's paste) is not among the keys the device
// declares: windows that need it are X clients whose classes the accessibility tree does
// not give, and `sendPasteChord` refuses it (the copy panel then has the text). Main
// queue only.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "turn/key_synthesis.h"

namespace sorvane::platform {

// The name of our virtual keyboard; the evdev source skips the device of this name.
inline constexpr const char* kUinputKeyboardName = "Sorvane virtual keyboard";

class UinputSystem {
 public:
  virtual ~UinputSystem() = default;
  virtual int open(const char* path, int flags) = 0;
  // `argument` is an integer for the UI_SET_* requests and a pointer for UI_DEV_SETUP.
  virtual int ioctl(int fd, unsigned long request, unsigned long argument) = 0;
  virtual ssize_t write(int fd, const void* data, size_t size) = 0;
  virtual int close(int fd) = 0;
};

// The real system calls.
std::unique_ptr<UinputSystem> makeUinputSystem();

class UinputKeySynthesis final : public KeySynthesis {
 public:
  struct Sources {
    std::function<bool()> userModifiersHeld;                        // empty: never held
    std::function<std::vector<std::string>()> focusedWindowClasses;  // empty: unknown
  };
  UinputKeySynthesis(std::unique_ptr<UinputSystem> system, Sources sources,
                     std::string devicePath = "/dev/uinput");
  ~UinputKeySynthesis() override;
  UinputKeySynthesis(const UinputKeySynthesis&) = delete;
  UinputKeySynthesis& operator=(const UinputKeySynthesis&) = delete;

  bool available() const { return fd_ >= 0; }

  bool userModifiersHeld() override;
  std::vector<std::string> focusedWindowClasses() override;
  bool sendPasteChord(PasteChord chord) override;

 private:
  bool setUp();
  bool writeRecord(unsigned short type, unsigned short code, int value);

  std::unique_ptr<UinputSystem> system_;
  Sources sources_;
  int fd_ = -1;
};

}  // namespace sorvane::platform
