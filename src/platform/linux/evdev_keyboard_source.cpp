#include "platform/linux/evdev_keyboard_source.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstring>

#include "input/hot_key_manager.h"
#include "core/log.h"
#include "platform/linux/uinput_key_synthesis.h"

namespace sorvane::platform {

namespace {

// Key codes of the modifier keys, so held modifiers are found without scanning every key.
constexpr std::array<uint16_t, 8> kModifierCodes = {KEY_LEFTALT,   KEY_RIGHTALT,   KEY_LEFTCTRL, KEY_RIGHTCTRL,
                                                    KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTMETA, KEY_RIGHTMETA};
// Keypad digit key codes in digit order 0-9 (the codes follow the keypad's rows).
constexpr std::array<uint16_t, 10> kKeypadDigitCodes = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                                        KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};

bool isMouseButton(uint16_t code) { return code >= BTN_LEFT && code <= BTN_TASK; }

}  // namespace

EvdevMappedKey mapEvdevKey(uint16_t code) {
  switch (code) {
    case KEY_LEFTALT: return {Key::alt, -1};
    case KEY_RIGHTALT: return {Key::alt, -1, true};
    case KEY_LEFTCTRL: return {Key::leftControl, -1};
    case KEY_RIGHTCTRL: return {Key::rightControl, -1};
    case KEY_LEFTSHIFT: case KEY_RIGHTSHIFT: return {Key::shift, -1};
    case KEY_LEFTMETA: case KEY_RIGHTMETA: return {Key::super, -1};
    case KEY_ENTER: return {Key::returnKey, -1};
    case KEY_KPENTER: return {Key::keypadEnter, -1};
    case KEY_ESC: return {Key::escape, -1};
    case KEY_0: return {Key::digit, 0};
    default: break;
  }
  if (code >= KEY_1 && code <= KEY_9) return {Key::digit, code - KEY_1 + 1};
  for (int digit = 0; digit < 10; ++digit) {
    if (kKeypadDigitCodes[digit] == code) return {Key::keypadDigit, digit};
  }
  return {};
}

uint8_t hotKeyModifiers(uint8_t held) {
  uint8_t bits = 0;
  if (held & (modifier::leftControl | modifier::rightControl)) bits |= hotkey::control;
  if (held & modifier::alt) bits |= hotkey::alt;
  if (held & modifier::shift) bits |= hotkey::shift;
  if (held & modifier::super) bits |= hotkey::super;
  return bits;
}

struct EvdevKeyboardSource::Device {
  int fd = -1;
  std::string name;
  std::unique_ptr<QSocketNotifier> notifier;
  std::bitset<KEY_CNT> down;
  // Bytes of a record the last read ended inside of (pipes may split records).
  std::vector<char> partial;
  // After SYN_DROPPED the kernel lost records: skip to the next SYN_REPORT, then re-read
  // which keys are down.
  bool dropping = false;
};

EvdevKeyboardSource::EvdevKeyboardSource(std::function<bool()> ownWindowFocused)
    : ownWindowFocused_(std::move(ownWindowFocused)) {
  if (!ownWindowFocused_) ownWindowFocused_ = [] { return QGuiApplication::focusWindow() != nullptr; };
}

EvdevKeyboardSource::~EvdevKeyboardSource() {
  monitorNotifier_.reset();
  if (monitor_) ::udev_monitor_unref(monitor_);
  if (udev_) ::udev_unref(udev_);
  for (auto& device : devices_) {
    device->notifier.reset();
    ::close(device->fd);
  }
}

int EvdevKeyboardSource::openDevices(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    appLog("keyboard devices unavailable reason=no-input-folder");
    return 0;
  }
  std::vector<std::string> nodes;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, "event", 5) == 0) nodes.push_back(folder + "/" + entry->d_name);
  }
  ::closedir(dir);
  std::sort(nodes.begin(), nodes.end());
  int opened = 0, denied = 0;
  for (const std::string& node : nodes) {
    const NodeResult result = openNode(node);
    if (result == NodeResult::opened) ++opened;
    if (result == NodeResult::denied) ++denied;
  }
  if (opened == 0 && denied > 0 && !accessDenied_) {
    accessDenied_ = true;
    appLog("keyboard devices unreadable count=" + std::to_string(denied) +
           " hint=input-group-or-udev-uaccess-rule");
  }
  return opened;
}

EvdevKeyboardSource::NodeResult EvdevKeyboardSource::openNode(const std::string& node) {
  const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EPERM ? NodeResult::denied : NodeResult::skipped;
  libevdev* info = nullptr;
  if (libevdev_new_from_fd(fd, &info) != 0) {
    ::close(fd);
    return NodeResult::skipped;
  }
  const bool keyboard =
      libevdev_has_event_code(info, EV_KEY, KEY_SPACE) && libevdev_has_event_code(info, EV_KEY, KEY_LEFTALT);
  const bool pointer = libevdev_has_event_code(info, EV_KEY, BTN_LEFT);
  const char* rawName = libevdev_get_name(info);
  std::string name = rawName ? rawName : node;
  libevdev_free(info);
  if ((!keyboard && !pointer) || name == kUinputKeyboardName) {
    ::close(fd);
    return NodeResult::skipped;
  }
  addDevice(fd, std::move(name));
  return NodeResult::opened;
}

bool EvdevKeyboardSource::watchHotPlug() {
  udev_ = ::udev_new();
  if (!udev_) return false;
  monitor_ = ::udev_monitor_new_from_netlink(udev_, "udev");
  if (!monitor_ || ::udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr) < 0 ||
      ::udev_monitor_enable_receiving(monitor_) < 0) {
    appLog("keyboard hot-plug unavailable reason=no-udev-monitor");
    return false;
  }
  monitorNotifier_ = std::make_unique<QSocketNotifier>(::udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
  QObject::connect(monitorNotifier_.get(), &QSocketNotifier::activated, [this] {
    while (udev_device* device = ::udev_monitor_receive_device(monitor_)) {
      const char* action = ::udev_device_get_action(device);
      const char* node = ::udev_device_get_devnode(device);
      // Removals end the device's reads by themselves (ENODEV).
      if (action && node && std::strcmp(action, "add") == 0 && std::strstr(node, "/event")) {
        if (openNode(node) == NodeResult::denied && !accessDenied_) {
          accessDenied_ = true;
          appLog("keyboard devices unreadable count=1 hint=input-group-or-udev-uaccess-rule");
        }
      }
      ::udev_device_unref(device);
    }
  });
  return true;
}

void EvdevKeyboardSource::addDevice(int fd, std::string name) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  auto device = std::make_unique<Device>();
  device->fd = fd;
  device->name = std::move(name);
  device->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  Device* raw = device.get();
  QObject::connect(device->notifier.get(), &QSocketNotifier::activated, [this, raw] { readDevice(*raw); });
  appLog("keyboard device added name=" + device->name);
  devices_.push_back(std::move(device));
  everAdded_ = true;
}

Subscription EvdevKeyboardSource::observe(Scope scope, KeyboardObserver observer) {
  if (!available()) return {};
  return observers_.add(scope, std::move(observer));
}

uint8_t EvdevKeyboardSource::heldModifiers() const {
  uint8_t bits = 0;
  for (const auto& device : devices_) {
    for (uint16_t code : kModifierCodes) {
      if (!device->down[code]) continue;
      const EvdevMappedKey mapped = mapEvdevKey(code);
      bits |= modifierBits(mapped.key, mapped.rightAlt);
    }
  }
  return bits;
}

void EvdevKeyboardSource::readDevice(Device& device) {
  std::array<char, 64 * sizeof(input_event)> buffer;
  for (;;) {
    const size_t kept = device.partial.size();
    std::copy(device.partial.begin(), device.partial.end(), buffer.begin());
    const ssize_t got = ::read(device.fd, buffer.data() + kept, buffer.size() - kept);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      dropDevice(device, got == 0 ? "end" : std::strerror(errno));
      return;
    }
    const size_t total = kept + static_cast<size_t>(got);
    const size_t whole = total / sizeof(input_event) * sizeof(input_event);
    device.partial.assign(buffer.begin() + static_cast<ptrdiff_t>(whole), buffer.begin() + static_cast<ptrdiff_t>(total));
    for (size_t offset = 0; offset < whole; offset += sizeof(input_event)) {
      input_event record;
      std::memcpy(&record, buffer.data() + offset, sizeof record);
      handleRecord(device, record.type, record.code, record.value);
    }
  }
}

void EvdevKeyboardSource::handleRecord(Device& device, uint16_t type, uint16_t code, int32_t value) {
  if (type == EV_SYN && code == SYN_DROPPED) {
    device.dropping = true;
    return;
  }
  if (device.dropping) {
    if (type != EV_SYN || code != SYN_REPORT) return;
    device.dropping = false;
    // The kernel's own key state; a pipe has none, then nothing counts as held.
    std::array<unsigned char, KEY_CNT / 8 + 1> bits{};
    device.down.reset();
    if (::ioctl(device.fd, EVIOCGKEY(sizeof bits), bits.data()) >= 0) {
      for (size_t code = 0; code < KEY_CNT; ++code) {
        if (bits[code / 8] & (1u << (code % 8))) device.down.set(code);
      }
    }
    return;
  }
  if (type == EV_KEY && code < KEY_CNT) handleKey(device, code, value);
}

void EvdevKeyboardSource::handleKey(Device& device, uint16_t code, int32_t value) {
  if (isMouseButton(code)) {
    if (value == 1) deliver({KeyboardEvent::Type::mouseDown, Key::other, -1, false, heldModifiers()});
    return;
  }
  // Repeat records of keys we never saw pressed (held when the device was opened).
  if (value == 2 && !device.down[code]) return;
  const bool press = value != 0;
  const bool wasDown = device.down[code];
  device.down[code] = press;
  const EvdevMappedKey mapped = mapEvdevKey(code);
  auto event = keyTransition(wasDown, press, mapped.key, mapped.digit, mapped.rightAlt);
  if (!event) return;
  event->modifiers = heldModifiers();
  if (code == KEY_SPACE && event->type == KeyboardEvent::Type::keyDown && !event->isRepeat && spaceHandler_) {
    spaceHandler_(hotKeyModifiers(event->modifiers));
  }
  deliver(*event);
}

void EvdevKeyboardSource::dropDevice(Device& device, const std::string& reason) {
  appLog("keyboard device gone name=" + device.name + " reason=" + reason);
  // Called from the device's own notifier: let Qt delete it once the signal returns.
  device.notifier->setEnabled(false);
  device.notifier.release()->deleteLater();
  ::close(device.fd);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) { return d.get() == &device; });
  if (it != devices_.end()) devices_.erase(it);
}

void EvdevKeyboardSource::deliver(const KeyboardEvent& event) { observers_.deliver(event, ownWindowFocused_()); }

}  // namespace sorvane::platform
