// The evdev keyboard source over pipes of recorded `struct input_event` records, as the
// kernel writes them for a real keyboard: the semantic events must be the ones the X11
// source gives for the same keys (modifier changes with the modifiers held after them,
// repeats flagged, releases of unseen keys ignored), and a device that ends mid-stream is
// dropped with one log line while the others keep working. No X server needed.
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "input/hot_key_manager.h"
#include "platform/linux/evdev_hot_key_grabber.h"
#include "platform/linux/evdev_keyboard_source.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using Type = KeyboardEvent::Type;
using platform::EvdevKeyboardSource;

struct Record {
  uint16_t type;
  uint16_t code;
  int32_t value;
};

// A key change as a keyboard reports it: the scan code, the key, the end of the report.
std::vector<Record> key(uint16_t code, int32_t value) {
  return {{EV_MSC, MSC_SCAN, 0x70000 + code}, {EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}
std::vector<Record> tap(uint16_t code) {
  auto records = key(code, 1);
  auto up = key(code, 0);
  records.insert(records.end(), up.begin(), up.end());
  return records;
}
std::vector<Record> join(std::initializer_list<std::vector<Record>> parts) {
  std::vector<Record> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string bytesOf(const std::vector<Record>& records) {
  std::string bytes;
  for (const Record& r : records) {
    input_event event{};
    event.time.tv_sec = 1765000000;
    event.time.tv_usec = 123456;
    event.type = r.type;
    event.code = r.code;
    event.value = r.value;
    bytes.append(reinterpret_cast<const char*>(&event), sizeof event);
  }
  return bytes;
}

// A fake device: the source reads one end of a pipe, the test writes the other.
struct PipeDevice {
  PipeDevice(EvdevKeyboardSource& source, const std::string& name) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    source.addDevice(fds[0], name);
    writer = fds[1];
  }
  ~PipeDevice() { unplug(); }
  void send(const std::string& bytes) { ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void send(const std::vector<Record>& records) { send(bytesOf(records)); }
  void unplug() {
    if (writer >= 0) ::close(writer);
    writer = -1;
  }
  int writer = -1;
};

struct Seen {
  Type type;
  Key key;
  int digit;
  bool repeat;
  uint8_t modifiers;
  bool rightAlt = false;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "{type " << int(s.type) << " key " << int(s.key) << " digit " << s.digit << " repeat " << s.repeat
             << " mods " << int(s.modifiers) << " right alt " << s.rightAlt << "}";
}

class EvdevSource : public ::testing::Test {
 protected:
  void SetUp() override {
    subscription = source.observe(KeyboardEventSource::Scope::everywhere, [this](const KeyboardEvent& e) {
      seen.push_back({e.type, e.key, e.digit, e.isRepeat, e.modifiers, e.rightAlt});
    });
  }
  bool waitFor(size_t count) {
    return testing::waitUntil([&] { return seen.size() >= count; }, std::chrono::seconds(5));
  }
  // Lets any further (wrong) events arrive before comparing.
  void settle() { testing::waitUntil([] { return false; }, std::chrono::milliseconds(30)); }

  bool ownFocus = false;
  EvdevKeyboardSource source{[this] { return ownFocus; }};
  PipeDevice keyboard{source, "AT Translated Set 2 keyboard"};
  std::vector<Seen> seen;
  Subscription subscription;
};

constexpr uint8_t kAlt = modifier::alt | modifier::leftAlt;
constexpr uint8_t kRightAlt = modifier::alt | modifier::rightAlt;
constexpr uint8_t kCtrl = modifier::leftControl;

TEST_F(EvdevSource, RecordedStreamsGiveTheSameEventsAsTheX11Source) {
  struct Case {
    const char* name;
    std::vector<Record> records;
    std::vector<Seen> expected;
  };
  const std::vector<Case> cases = {
      {"left alt tap", tap(KEY_LEFTALT),
       {{Type::modifierChanged, Key::alt, -1, false, kAlt}, {Type::modifierChanged, Key::alt, -1, false, 0}}},
      {"right alt tap is alt too, told apart by its side", tap(KEY_RIGHTALT),
       {{Type::modifierChanged, Key::alt, -1, false, kRightAlt, true},
        {Type::modifierChanged, Key::alt, -1, false, 0, true}}},
      {"both alt keys held: alt stays while either is down",
       join({key(KEY_LEFTALT, 1), key(KEY_RIGHTALT, 1), key(KEY_LEFTALT, 0), key(KEY_RIGHTALT, 0)}),
       {{Type::modifierChanged, Key::alt, -1, false, kAlt},
        {Type::modifierChanged, Key::alt, -1, false, kAlt | kRightAlt, true},
        {Type::modifierChanged, Key::alt, -1, false, kRightAlt},
        {Type::modifierChanged, Key::alt, -1, false, 0, true}}},
      {"alt with a letter", join({key(KEY_LEFTALT, 1), tap(KEY_A), key(KEY_LEFTALT, 0)}),
       {{Type::modifierChanged, Key::alt, -1, false, kAlt},
        {Type::keyDown, Key::other, -1, false, kAlt},
        {Type::keyUp, Key::other, -1, false, kAlt},
        {Type::modifierChanged, Key::alt, -1, false, 0}}},
      {"control+3 on the main row", join({key(KEY_LEFTCTRL, 1), tap(KEY_3), key(KEY_LEFTCTRL, 0)}),
       {{Type::modifierChanged, Key::leftControl, -1, false, kCtrl},
        {Type::keyDown, Key::digit, 3, false, kCtrl},
        {Type::keyUp, Key::digit, 3, false, kCtrl},
        {Type::modifierChanged, Key::leftControl, -1, false, 0}}},
      {"keypad 8, return, keypad enter, escape", join({tap(KEY_KP8), key(KEY_ENTER, 1), key(KEY_KPENTER, 1),
                                                        key(KEY_ESC, 1)}),
       {{Type::keyDown, Key::keypadDigit, 8, false, 0},
        {Type::keyUp, Key::keypadDigit, 8, false, 0},
        {Type::keyDown, Key::returnKey, -1, false, 0},
        {Type::keyDown, Key::keypadEnter, -1, false, 0},
        {Type::keyDown, Key::escape, -1, false, 0}}},
      {"kernel repeat of a digit; a held alt repeats silently",
       join({key(KEY_5, 1), key(KEY_5, 2), key(KEY_5, 2), key(KEY_5, 0), key(KEY_LEFTALT, 1), key(KEY_LEFTALT, 2),
             key(KEY_LEFTALT, 0)}),
       {{Type::keyDown, Key::digit, 5, false, 0},
        {Type::keyDown, Key::digit, 5, true, 0},
        {Type::keyDown, Key::digit, 5, true, 0},
        {Type::keyUp, Key::digit, 5, false, 0},
        {Type::modifierChanged, Key::alt, -1, false, kAlt},
        {Type::modifierChanged, Key::alt, -1, false, 0}}},
      {"releases and repeats of keys never seen pressed", join({key(KEY_LEFTCTRL, 0), key(KEY_7, 2), key(KEY_7, 0)}),
       {}},
      {"records the kernel lost: skipped to the next report, held keys re-read (none on a pipe)",
       join({key(KEY_LEFTCTRL, 1), {{EV_SYN, SYN_DROPPED, 0}}, key(KEY_3, 1), key(KEY_4, 1), key(KEY_LEFTCTRL, 0)}),
       {{Type::modifierChanged, Key::leftControl, -1, false, kCtrl}, {Type::keyDown, Key::digit, 4, false, 0}}},
      {"mouse buttons are presses, their releases nothing",
       join({key(KEY_LEFTALT, 1), tap(BTN_LEFT), key(KEY_LEFTALT, 0)}),
       {{Type::modifierChanged, Key::alt, -1, false, kAlt},
        {Type::mouseDown, Key::other, -1, false, kAlt},
        {Type::modifierChanged, Key::alt, -1, false, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    seen.clear();
    {
      // A keyboard of its own per case, so no key stays held into the next one.
      PipeDevice device(source, "recorded keyboard");
      device.send(c.records);
      waitFor(c.expected.size());
      settle();
      EXPECT_EQ(seen, c.expected);
    }
    ASSERT_TRUE(testing::waitUntil([&] { return source.deviceCount() == 1; }, std::chrono::seconds(5)));
  }
}

TEST(EvdevKeyMap, EveryDigitOfTheMainRowAndTheKeypad) {
  // The key codes follow the physical rows (1..9 then 0; keypad 7 8 9 / 4 5 6 / 1 2 3 / 0).
  const uint16_t mainRow[10] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
  const uint16_t keypad[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
  for (int digit = 0; digit < 10; ++digit) {
    SCOPED_TRACE(digit);
    const auto row = platform::mapEvdevKey(mainRow[digit]);
    EXPECT_EQ(row.key, Key::digit);
    EXPECT_EQ(row.digit, digit);
    const auto pad = platform::mapEvdevKey(keypad[digit]);
    EXPECT_EQ(pad.key, Key::keypadDigit);
    EXPECT_EQ(pad.digit, digit);
  }
  EXPECT_EQ(platform::mapEvdevKey(KEY_MINUS).key, Key::other);
  EXPECT_EQ(platform::mapEvdevKey(KEY_KPMINUS).key, Key::other);
}

TEST_F(EvdevSource, RecordsSplitAcrossReadsAndModifiersAcrossDevices) {
  PipeDevice second(source, "USB keyboard");
  const std::string bytes = bytesOf(key(KEY_LEFTCTRL, 1));
  // The first record split in the middle, then the rest.
  keyboard.send(bytes.substr(0, 10));
  settle();
  EXPECT_TRUE(seen.empty());
  keyboard.send(bytes.substr(10));
  ASSERT_TRUE(waitFor(1));
  // Control held on one keyboard, 2 typed on the other: Control+2.
  second.send(key(KEY_2, 1));
  ASSERT_TRUE(waitFor(2));
  EXPECT_EQ(seen[1], (Seen{Type::keyDown, Key::digit, 2, false, kCtrl}));
}

TEST_F(EvdevSource, UnpluggedDeviceEndsWithOneLogLineAndItsHeldKeysStopCounting) {
  testing::LogCapture log;
  PipeDevice second(source, "USB keyboard");
  second.send(key(KEY_LEFTALT, 1));
  ASSERT_TRUE(waitFor(1));
  second.unplug();
  ASSERT_TRUE(testing::waitUntil([&] { return source.deviceCount() == 1; }, std::chrono::seconds(5)));
  settle();
  EXPECT_EQ(log.count("keyboard device gone name=USB keyboard"), 1u);
  // No release is made up for the Alt that was down (it would read as an Alt tap).
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(source.heldModifiers(), 0);
  keyboard.send(key(KEY_1, 1));
  ASSERT_TRUE(waitFor(2));
  EXPECT_EQ(seen[1], (Seen{Type::keyDown, Key::digit, 1, false, 0}));
}

TEST_F(EvdevSource, OwnWindowFocusHidesKeysFromOutsideObserversOnly) {
  std::vector<Key> outside;
  Subscription outsideSubscription = source.observe(KeyboardEventSource::Scope::outsideOwnWindows,
                                                    [&](const KeyboardEvent& e) { outside.push_back(e.key); });
  ownFocus = true;
  keyboard.send(key(KEY_ESC, 1));
  ASSERT_TRUE(waitFor(1));
  ownFocus = false;
  keyboard.send(key(KEY_ESC, 0));
  ASSERT_TRUE(waitFor(2));
  EXPECT_EQ(outside, std::vector<Key>{Key::escape});
  // Unsubscribed observers hear nothing more.
  outsideSubscription.reset();
  subscription.reset();
  keyboard.send(tap(KEY_LEFTALT));
  settle();
  EXPECT_EQ(outside.size(), 1u);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(EvdevSource, SpaceReportsTheChordModifiers) {
  std::vector<uint8_t> chords;
  source.setSpaceHandler([&](uint8_t modifiers) { chords.push_back(modifiers); });
  keyboard.send(join({key(KEY_LEFTCTRL, 1), key(KEY_RIGHTALT, 1), key(KEY_SPACE, 1), key(KEY_SPACE, 2),
                      key(KEY_SPACE, 0), key(KEY_RIGHTALT, 0), key(KEY_LEFTCTRL, 0), key(KEY_LEFTMETA, 1),
                      key(KEY_RIGHTSHIFT, 1), key(KEY_SPACE, 1)}));
  ASSERT_TRUE(waitFor(8));
  settle();
  // The repeat is not a second press.
  EXPECT_EQ(chords, (std::vector<uint8_t>{hotkey::control | hotkey::alt, hotkey::super | hotkey::shift}));
}

TEST_F(EvdevSource, ChordsWithoutThePortalFireOnExactModifiers) {
  platform::EvdevHotKeyGrabber grabber(source);
  std::vector<int> fired;
  grabber.setPressedHandler([&](int id) { fired.push_back(id); });
  for (const HotKeyChord& chord : kHotKeyChords) EXPECT_EQ(grabber.grab(chord), "");
  keyboard.send(join({key(KEY_LEFTALT, 1), tap(KEY_SPACE),                          // Alt+Space
                      key(KEY_RIGHTCTRL, 1), tap(KEY_SPACE), key(KEY_RIGHTCTRL, 0),  // Control+Alt+Space
                      key(KEY_LEFTSHIFT, 1), tap(KEY_SPACE),                         // Alt+Shift: no chord
                      key(KEY_LEFTALT, 0), key(KEY_LEFTMETA, 1), tap(KEY_SPACE)}));  // Super+Shift+Space
  ASSERT_TRUE(waitFor(14));
  settle();
  EXPECT_EQ(fired, (std::vector<int>{1, 2, 3}));

  EvdevKeyboardSource empty([] { return false; });
  EXPECT_EQ(platform::EvdevHotKeyGrabber(empty).grab(kHotKeyChords[0]), "NoInputDevices");
}

TEST(EvdevSourceWithoutDevices, DeliversNothingAndSaysWhenDevicesAreUnreadable) {
  EvdevKeyboardSource source([] { return false; });
  EXPECT_FALSE(source.observe(KeyboardEventSource::Scope::everywhere, [](const KeyboardEvent&) {}));
  testing::TempDir dir;
  testing::LogCapture log;
  EXPECT_EQ(source.openDevices(dir.path() + "/missing"), 0);
  EXPECT_TRUE(log.contains("keyboard devices unavailable reason=no-input-folder"));
  // A node that is no input device is passed over, not counted as refused.
  dir.write("event0", "not a device");
  EXPECT_EQ(source.openDevices(dir.path()), 0);
  EXPECT_FALSE(source.accessDenied());
  EXPECT_FALSE(source.available());
  // A device node we may not open (skipped when running as root, which opens anything).
  if (::geteuid() == 0) return;
  ::unlink(dir.file("event0").c_str());
  const std::string node = dir.path() + "/event3";
  ::close(::open(node.c_str(), O_CREAT | O_WRONLY, 0000));
  EXPECT_EQ(source.openDevices(dir.path()), 0);
  EXPECT_EQ(source.openDevices(dir.path()), 0);
  EXPECT_TRUE(source.accessDenied());
  EXPECT_EQ(log.count("keyboard devices unreadable"), 1u);
}

}  // namespace
}  // namespace sorvane
