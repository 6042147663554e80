#include "platform/linux/uinput_key_synthesis.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "core/log.h"

namespace sorvane::platform {
namespace {

// Every key the virtual keyboard can press; the kernel refuses keys not declared here.
constexpr std::array<unsigned short, 3> kDeclaredKeys = {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_V};

class RealUinputSystem final : public UinputSystem {
 public:
  int open(const char* path, int flags) override { return ::open(path, flags); }
  int ioctl(int fd, unsigned long request, unsigned long argument) override {
    return ::ioctl(fd, request, argument);
  }
  ssize_t write(int fd, const void* data, size_t size) override { return ::write(fd, data, size); }
  int close(int fd) override { return ::close(fd); }
};

}  // namespace

std::unique_ptr<UinputSystem> makeUinputSystem() { return std::make_unique<RealUinputSystem>(); }

UinputKeySynthesis::UinputKeySynthesis(std::unique_ptr<UinputSystem> system, Sources sources,
                                       std::string devicePath)
    : system_(std::move(system)), sources_(std::move(sources)) {
  fd_ = system_->open(devicePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    appLog(std::string("paste keys unavailable reason=uinput-not-writable error=") + std::strerror(errno));
    return;
  }
  if (!setUp()) {
    appLog(std::string("paste keys unavailable reason=uinput-setup-failed error=") + std::strerror(errno));
    system_->close(fd_);
    fd_ = -1;
  }
}

UinputKeySynthesis::~UinputKeySynthesis() {
  if (fd_ < 0) return;
  system_->ioctl(fd_, UI_DEV_DESTROY, 0);
  system_->close(fd_);
}

bool UinputKeySynthesis::setUp() {
  if (system_->ioctl(fd_, UI_SET_EVBIT, EV_KEY) < 0) return false;
  for (unsigned short key : kDeclaredKeys) {
    if (system_->ioctl(fd_, UI_SET_KEYBIT, key) < 0) return false;
  }
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  setup.id.vendor = 0x1209;  // pid.codes, the open-source vendor id
  setup.id.product = 0x5356;
  setup.id.version = 1;
  std::strncpy(setup.name, kUinputKeyboardName, UINPUT_MAX_NAME_SIZE - 1);
  if (system_->ioctl(fd_, UI_DEV_SETUP, reinterpret_cast<unsigned long>(&setup)) < 0) return false;
  return system_->ioctl(fd_, UI_DEV_CREATE, 0) >= 0;
}

bool UinputKeySynthesis::userModifiersHeld() {
  return sources_.userModifiersHeld ? sources_.userModifiersHeld() : false;
}

std::vector<std::string> UinputKeySynthesis::focusedWindowClasses() {
  return sources_.focusedWindowClasses ? sources_.focusedWindowClasses() : std::vector<std::string>{};
}

bool UinputKeySynthesis::writeRecord(unsigned short type, unsigned short code, int value) {
  // The kernel stamps the time itself; zero fields keep the records exact.
  input_event record{};
  record.type = type;
  record.code = code;
  record.value = value;
  return system_->write(fd_, &record, sizeof record) == static_cast<ssize_t>(sizeof record);
}

bool UinputKeySynthesis::sendPasteChord(PasteChord chord) {
  if (fd_ < 0) return false;
  if (chord == PasteChord::shiftInsert) {
    appLog("paste keys unavailable reason=uinput-no-insert-key");
    return false;
  }
  std::vector<unsigned short> keys = {KEY_LEFTCTRL};
  if (chord == PasteChord::controlShiftV) keys.push_back(KEY_LEFTSHIFT);
  keys.push_back(KEY_V);
  // Each key change is its own report, as a real keyboard sends them.
  size_t pressed = 0;
  bool ok = true;
  while (pressed < keys.size()) {
    if (!writeRecord(EV_KEY, keys[pressed], 1)) {
      ok = false;
      break;
    }
    ++pressed;
    if (!writeRecord(EV_SYN, SYN_REPORT, 0)) {
      ok = false;
      break;
    }
  }
  // Release in reverse order, including after a failure: a Control left down would
  // combine with everything the user types next.
  for (size_t i = pressed; i-- > 0;) {
    if (!writeRecord(EV_KEY, keys[i], 0) || !writeRecord(EV_SYN, SYN_REPORT, 0)) ok = false;
  }
  if (!ok) appLog(std::string("paste keys failed reason=uinput-write error=") + std::strerror(errno));
  return ok;
}

}  // namespace sorvane::platform
