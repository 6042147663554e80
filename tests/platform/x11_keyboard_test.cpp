// The XInput2 keyboard source, the tap monitors on it and the XGrabKey chords, driven by
// xdotool under the virtual X server: real Alt and Control taps arrive, our own XTest
// paste chord does not, keys in our own windows stay away from outside observers, and a
// chord another program holds is left out while the others fire.
#include <QLineEdit>

#include <cstdlib>

#include <gtest/gtest.h>

#include "input/control_style_key_monitor.h"
#include "input/hot_key_manager.h"
#include "input/option_key_toggle_monitor.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "platform/linux/x11_hot_key_grabber.h"
#include "platform/linux/x11_key_synthesis.h"
#include "platform/linux/x11_keyboard_event_source.h"
#include "platform/linux/x11_synthetic_keys.h"
#include "support/test_support.h"
#include "x11_test_tools.h"

namespace sorvane {
namespace {

using testing::runTool;
using testing::waitUntil;

void xdotool(const QStringList& arguments) { runTool("xdotool", arguments); }
void pause(int ms) { waitUntil([] { return false; }, std::chrono::milliseconds(ms)); }

class X11Keyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::haveX11()) GTEST_SKIP() << testing::kNeedsPrivateX;
    dispatcher = makeQtDispatcher(SystemClock::instance());
    synthetic = std::make_shared<platform::X11SyntheticKeys>(SystemClock::instance());
    source.emplace(synthetic);
    ASSERT_TRUE(source->available());
  }
  std::unique_ptr<Dispatcher> dispatcher;
  std::shared_ptr<platform::X11SyntheticKeys> synthetic;
  std::optional<platform::X11KeyboardEventSource> source;
};

TEST_F(X11Keyboard, AltTapAndControlDoubleTapReachTheMonitorsOurOwnPasteDoesNot) {
  OptionKeyToggleMonitor option(*dispatcher);
  ControlStyleKeyMonitor control(*dispatcher);
  int single = 0, controlSingle = 0, controlDouble = 0, palette = 0;
  option.onSingleTap = [&] { ++single; };
  control.onSingleTap = [&] { ++controlSingle; };
  control.onDoubleTap = [&] { ++controlDouble; };
  control.onModePaletteShow = [&] { ++palette; };
  ASSERT_TRUE(option.start(*source));
  ASSERT_TRUE(control.start(*source));

  xdotool({"key", "alt"});
  EXPECT_TRUE(waitUntil([&] { return single == 1; }, std::chrono::seconds(3)));
  xdotool({"key", "--delay", "150", "Control_L", "Control_L"});
  EXPECT_TRUE(waitUntil([&] { return controlDouble == 1; }, std::chrono::seconds(3)));
  EXPECT_EQ(controlSingle, 1);
  EXPECT_EQ(palette, 0);  // quick taps never show the palette

  // Our paste chord goes through the same XTest device as xdotool, and is still ours.
  platform::X11KeySynthesis keys(synthetic);
  pause(400);  // past the tap window
  ASSERT_TRUE(keys.sendPasteChord(PasteChord::controlV));
  ASSERT_TRUE(keys.sendPasteChord(PasteChord::controlShiftV));
  pause(400);
  EXPECT_EQ(palette, 0) << "our own Control press showed the palette";
  EXPECT_EQ(controlSingle, 1);
  EXPECT_TRUE(synthetic->empty());

  // After a paste an Alt tap still arrives.
  xdotool({"key", "alt"});
  EXPECT_TRUE(waitUntil([&] { return single == 2; }, std::chrono::seconds(3)));
}

// A bare Alt moves the keyboard focus into a Qt window's menu bar, as it does in Firefox and
// LibreOffice. The Right Control we send while Alt is held alone keeps the focus in the
// field, and the tap still counts: the monitor never sees that key.
TEST_F(X11Keyboard, TheTapMaskKeepsAMenuBarFromTakingTheFocusAndTheTapStillCounts) {
  const char* program = std::getenv("SORVANE_ATSPI_QT_FIXTURE");
  if (!program) GTEST_SKIP() << "needs the Qt fixture (x11_desktop_tests.sh)";
  testing::Fixture window(QString::fromLocal8Bit(program), {"--menu", "sorvane-menu-window"});
  ASSERT_TRUE(window.waitFor("ready"));
  testing::focusWindow("sorvane-menu-window");
  ASSERT_TRUE(window.waitFor("focus QTextEdit"));

  OptionKeyToggleMonitor option(*dispatcher);
  int taps = 0;
  option.onSingleTap = [&] { ++taps; };
  ASSERT_TRUE(option.start(*source));
  // A tap as a hand makes it: Alt is held for a moment.
  const QStringList tap{"keydown", "alt", "sleep", "0.15", "keyup", "alt"};

  // Unmasked, the fixture shows what users saw.
  xdotool(tap);
  ASSERT_TRUE(waitUntil([&] { return taps == 1; }, std::chrono::seconds(3)));
  ASSERT_TRUE(window.waitFor("focus QMenuBar")) << window.output;
  xdotool({"key", "Escape"});
  ASSERT_TRUE(waitUntil([&] { return window.count("focus QTextEdit") == 2; })) << window.output;
  pause(400);  // past the tap window

  platform::X11KeySynthesis keys(synthetic);
  option.onTapKeyDownAlone = [&] { EXPECT_TRUE(keys.sendTapMask()); };
  xdotool(tap);
  EXPECT_TRUE(waitUntil([&] { return taps == 2; }, std::chrono::seconds(3)));
  pause(300);  // room for a menu bar that would take the focus
  EXPECT_EQ(window.count("focus QMenuBar"), 1u) << window.output;
  EXPECT_TRUE(synthetic->empty());
}

TEST_F(X11Keyboard, OutsideObserversDoNotSeeKeysTypedInOurWindowsAndHandlesUnregister) {
  std::vector<KeyboardEvent> everywhere, outside;
  Subscription all = source->observe(KeyboardEventSource::Scope::everywhere,
                                     [&](const KeyboardEvent& e) { everywhere.push_back(e); });
  Subscription global = source->observe(KeyboardEventSource::Scope::outsideOwnWindows,
                                        [&](const KeyboardEvent& e) { outside.push_back(e); });
  const auto downs = [](const std::vector<KeyboardEvent>& events, Key key) {
    return std::count_if(events.begin(), events.end(), [key](const KeyboardEvent& e) {
      return e.type == KeyboardEvent::Type::keyDown && e.key == key;
    });
  };

  xdotool({"key", "Escape", "KP_Enter", "3"});
  ASSERT_TRUE(waitUntil([&] { return downs(outside, Key::digit) == 1; }, std::chrono::seconds(3)));
  EXPECT_EQ(downs(outside, Key::escape), 1);
  EXPECT_EQ(downs(outside, Key::keypadEnter), 1);
  const auto three = std::find_if(outside.begin(), outside.end(), [](const KeyboardEvent& e) { return e.key == Key::digit; });
  EXPECT_EQ(three->styleDigit(), 3);

  QLineEdit edit;
  edit.setWindowTitle("sorvane-own-window");
  edit.show();
  testing::focusWindow("sorvane-own-window");
  ASSERT_TRUE(waitUntil([&] { return edit.hasFocus(); }));
  const std::size_t outsideBefore = outside.size();
  xdotool({"key", "Return"});
  ASSERT_TRUE(waitUntil([&] { return downs(everywhere, Key::returnKey) == 1; }, std::chrono::seconds(3)));
  EXPECT_EQ(outside.size(), outsideBefore);
  edit.close();
  ASSERT_TRUE(waitUntil([&] { return !edit.hasFocus(); }));

  global.reset();
  all.reset();
  const std::size_t seen = everywhere.size();
  xdotool({"key", "Escape"});
  pause(300);
  EXPECT_EQ(everywhere.size(), seen);
}

TEST_F(X11Keyboard, AChordHeldByAnotherProgramIsLeftOutTheOthersFireWithLocksOn) {
  testing::LogCapture log;
  // Another program holds Control+Alt+Space.
  platform::X11HotKeyGrabber rival;
  ASSERT_EQ(rival.grab(kHotKeyChords[1]), "");

  HotKeyManager manager(*dispatcher, std::make_unique<platform::X11HotKeyGrabber>());
  int pressed = 0;
  manager.onHotKey = [&] { ++pressed; };
  manager.registerAll();
  EXPECT_EQ(manager.registeredIds(), (std::vector<int>{1, 3}));
  EXPECT_TRUE(log.contains("hotkey failed id=2 status=BadAccess"));

  xdotool({"key", "alt+space"});
  EXPECT_TRUE(waitUntil([&] { return pressed == 1; }, std::chrono::seconds(3)));
  // With Num Lock and Caps Lock on, the chords still fire.
  xdotool({"key", "Num_Lock", "Caps_Lock"});
  xdotool({"key", "super+shift+space"});
  EXPECT_TRUE(waitUntil([&] { return pressed == 2; }, std::chrono::seconds(3)));
  xdotool({"key", "Num_Lock", "Caps_Lock"});
}

}  // namespace
}  // namespace sorvane
