// The uinput paste keyboard over a fake system-call layer: the exact setup ioctls of the
// one virtual keyboard, the exact event records of both chords, a clean refusal when
// /dev/uinput is not writable or the setup fails, and no Control left down when a write
// fails halfway.
#include <fcntl.h>
#include <linux/uinput.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/linux/uinput_key_synthesis.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using platform::UinputKeySynthesis;

struct Call {
  unsigned long request;
  unsigned long argument;  // the integer argument; 0 for UI_DEV_SETUP
  bool operator==(const Call&) const = default;
};
struct Written {
  uint16_t type, code;
  int32_t value;
  bool operator==(const Written&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Written& w) {
  return out << "{" << w.type << "," << w.code << "," << w.value << "}";
}
std::ostream& operator<<(std::ostream& out, const Call& c) {
  return out << "{" << std::hex << c.request << "," << std::dec << c.argument << "}";
}

struct Journal {
  std::string openedPath;
  int openFlags = 0;
  std::vector<Call> calls;
  std::optional<uinput_setup> setup;
  std::vector<Written> written;
  bool zeroTimes = true;
  int closed = 0;
  // Failures to play.
  int openErrno = 0;
  unsigned long failingRequest = 0;
  int failWriteAt = -1;  // index of the record whose write fails
};

class FakeUinput final : public platform::UinputSystem {
 public:
  explicit FakeUinput(Journal& journal) : j_(journal) {}
  int open(const char* path, int flags) override {
    j_.openedPath = path;
    j_.openFlags = flags;
    if (j_.openErrno) {
      errno = j_.openErrno;
      return -1;
    }
    return 42;
  }
  int ioctl(int fd, unsigned long request, unsigned long argument) override {
    EXPECT_EQ(fd, 42);
    if (request == UI_DEV_SETUP) {
      uinput_setup setup;
      std::memcpy(&setup, reinterpret_cast<const void*>(argument), sizeof setup);
      j_.setup = setup;
      argument = 0;
    }
    j_.calls.push_back({request, argument});
    if (request == j_.failingRequest) {
      errno = EINVAL;
      return -1;
    }
    return 0;
  }
  ssize_t write(int fd, const void* data, size_t size) override {
    EXPECT_EQ(fd, 42);
    EXPECT_EQ(size, sizeof(input_event));
    if (static_cast<int>(j_.written.size()) == j_.failWriteAt) {
      j_.failWriteAt = -1;
      errno = EIO;
      return -1;
    }
    input_event event;
    std::memcpy(&event, data, sizeof event);
    if (event.time.tv_sec || event.time.tv_usec) j_.zeroTimes = false;
    j_.written.push_back({event.type, event.code, event.value});
    return static_cast<ssize_t>(size);
  }
  int close(int fd) override {
    ++j_.closed;
    return 0;
  }

 private:
  Journal& j_;
};

std::unique_ptr<UinputKeySynthesis> make(Journal& journal, UinputKeySynthesis::Sources sources = {}) {
  return std::make_unique<UinputKeySynthesis>(std::make_unique<FakeUinput>(journal), std::move(sources));
}

std::vector<Written> press(uint16_t code, int32_t value) { return {{EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}}; }
std::vector<Written> join(std::initializer_list<std::vector<Written>> parts) {
  std::vector<Written> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(UinputKeySynthesis, CreatesOneVirtualKeyboardAtStartAndDestroysItAtTheEnd) {
  Journal journal;
  auto keys = make(journal);
  EXPECT_TRUE(keys->available());
  EXPECT_EQ(journal.openedPath, "/dev/uinput");
  EXPECT_EQ(journal.openFlags & O_ACCMODE, O_WRONLY);
  EXPECT_TRUE(journal.openFlags & O_NONBLOCK);
  const std::vector<Call> setupCalls = {{UI_SET_EVBIT, EV_KEY},  {UI_SET_KEYBIT, KEY_LEFTCTRL},
                                        {UI_SET_KEYBIT, KEY_LEFTSHIFT}, {UI_SET_KEYBIT, KEY_V},
                                        {UI_DEV_SETUP, 0},       {UI_DEV_CREATE, 0}};
  EXPECT_EQ(journal.calls, setupCalls);
  ASSERT_TRUE(journal.setup);
  EXPECT_STREQ(journal.setup->name, platform::kUinputKeyboardName);
  EXPECT_EQ(journal.setup->id.bustype, BUS_VIRTUAL);
  // Sending chords creates nothing more.
  keys->sendPasteChord(PasteChord::controlV);
  keys->sendPasteChord(PasteChord::controlV);
  EXPECT_EQ(journal.calls, setupCalls);
  keys.reset();
  ASSERT_EQ(journal.calls.size(), setupCalls.size() + 1);
  EXPECT_EQ(journal.calls.back(), (Call{UI_DEV_DESTROY, 0}));
  EXPECT_EQ(journal.closed, 1);
}

TEST(UinputKeySynthesis, ChordsAreExactRecordsEachKeyItsOwnReport) {
  const struct {
    PasteChord chord;
    std::vector<Written> expected;
  } cases[] = {
      {PasteChord::controlV,
       join({press(KEY_LEFTCTRL, 1), press(KEY_V, 1), press(KEY_V, 0), press(KEY_LEFTCTRL, 0)})},
      {PasteChord::controlShiftV,
       join({press(KEY_LEFTCTRL, 1), press(KEY_LEFTSHIFT, 1), press(KEY_V, 1), press(KEY_V, 0),
             press(KEY_LEFTSHIFT, 0), press(KEY_LEFTCTRL, 0)})},
  };
  for (const auto& c : cases) {
    Journal journal;
    auto keys = make(journal);
    EXPECT_TRUE(keys->sendPasteChord(c.chord));
    EXPECT_EQ(journal.written, c.expected);
    EXPECT_TRUE(journal.zeroTimes);
  }
}

TEST(UinputKeySynthesis, RefusedCleanlyWhenUinputIsNotWritableOrSetupFails) {
  const struct {
    const char* name;
    int openErrno;
    unsigned long failingRequest;
    const char* logged;
    int closes;
  } cases[] = {
      {"no permission", EACCES, 0, "paste keys unavailable reason=uinput-not-writable", 0},
      {"no uinput module", ENOENT, 0, "paste keys unavailable reason=uinput-not-writable", 0},
      {"device creation refused", 0, UI_DEV_CREATE, "paste keys unavailable reason=uinput-setup-failed", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::LogCapture log;
    Journal journal;
    journal.openErrno = c.openErrno;
    journal.failingRequest = c.failingRequest;
    auto keys = make(journal);
    EXPECT_FALSE(keys->available());
    EXPECT_FALSE(keys->sendPasteChord(PasteChord::controlV));
    EXPECT_TRUE(journal.written.empty());
    const size_t calls = journal.calls.size();
    keys.reset();
    EXPECT_EQ(journal.calls.size(), calls);  // nothing to destroy
    EXPECT_EQ(journal.closed, c.closes);
    EXPECT_EQ(log.count(c.logged), 1u);
  }
}

TEST(UinputKeySynthesis, FailedWriteStillReleasesTheKeysAlreadyDown) {
  Journal journal;
  auto keys = make(journal);
  journal.failWriteAt = 4;  // V down
  testing::LogCapture log;
  EXPECT_FALSE(keys->sendPasteChord(PasteChord::controlShiftV));
  EXPECT_EQ(journal.written, join({press(KEY_LEFTCTRL, 1), press(KEY_LEFTSHIFT, 1), press(KEY_LEFTSHIFT, 0),
                                   press(KEY_LEFTCTRL, 0)}));
  EXPECT_TRUE(log.contains("paste keys failed reason=uinput-write"));
}

TEST(UinputKeySynthesis, HeldModifiersAndWindowClassesComeFromTheSourcesHandedIn) {
  Journal journal;
  EXPECT_FALSE(make(journal)->userModifiersHeld());
  EXPECT_TRUE(make(journal)->focusedWindowClasses().empty());
  bool held = true;
  auto keys = make(journal, {[&] { return held; }, [] { return std::vector<std::string>{"org.gnome.terminal"}; }});
  EXPECT_TRUE(keys->userModifiersHeld());
  held = false;
  EXPECT_FALSE(keys->userModifiersHeld());
  EXPECT_EQ(keys->focusedWindowClasses(), std::vector<std::string>{"org.gnome.terminal"});
}

}  // namespace
}  // namespace sorvane
