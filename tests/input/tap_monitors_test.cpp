// The Alt (Option) and left-Control tap logic in virtual time: bare taps, cancelled taps,
// tap windows, debounce, style digits and the palette.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/control_style_key_monitor.h"
#include "input/option_key_toggle_monitor.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using testing::VirtualDispatcher;

// Turns presses and releases into the events the adapter delivers, tracking held modifiers.
class KeyScript {
 public:
  explicit KeyScript(std::function<void(const KeyboardEvent&)> sink) : sink_(std::move(sink)) {}
  void press(Key key, int digit = -1, bool repeat = false) { send(key, true, digit, repeat); }
  void release(Key key, int digit = -1) { send(key, false, digit, false); }
  void tap(Key key) {
    press(key);
    release(key);
  }
  void click() { sink_({KeyboardEvent::Type::mouseDown, Key::other, -1, false, modifiers_}); }

 private:
  void send(Key key, bool down, int digit, bool repeat) {
    if (uint8_t bit = modifierBit(key)) {
      modifiers_ = down ? (modifiers_ | bit) : (modifiers_ & ~bit);
      sink_({KeyboardEvent::Type::modifierChanged, key, -1, false, modifiers_});
    } else {
      sink_({down ? KeyboardEvent::Type::keyDown : KeyboardEvent::Type::keyUp, key, digit, repeat, modifiers_});
    }
  }
  std::function<void(const KeyboardEvent&)> sink_;
  uint8_t modifiers_ = 0;
};

struct OptionCase {
  const char* name;
  std::function<void(KeyScript&, VirtualDispatcher&)> script;
  std::vector<std::string> expected;
};

TEST(TapOptionMonitor, BareAltTapsAndWhatCancelsThem) {
  const auto after = [](VirtualDispatcher& d, int ms) { d.advance(Milliseconds(ms)); };
  const std::vector<OptionCase> cases = {
      {"bare tap", [](KeyScript& k, VirtualDispatcher&) { k.tap(Key::alt); }, {"single"}},
      {"alt with a letter",
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::alt);
         k.tap(Key::other);
         k.release(Key::alt);
       },
       {}},
      {"alt pressed while shift held",
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::shift);
         k.tap(Key::alt);
         k.release(Key::shift);
       },
       {}},
      {"shift pressed and released while alt stays down",
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::alt);
         k.tap(Key::shift);
         k.release(Key::alt);
       },
       {}},
      {"mouse button while alt down",
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::alt);
         k.click();
         k.release(Key::alt);
       },
       {}},
      {"taps 0.3 s apart are two single taps",
       [after](KeyScript& k, VirtualDispatcher& d) {
         k.tap(Key::alt);
         after(d, 300);
         k.tap(Key::alt);
       },
       {"single", "single"}},
      {"three taps inside the window, then a fresh count",
       [after](KeyScript& k, VirtualDispatcher& d) {
         for (int i = 0; i < 4; ++i) {
           k.tap(Key::alt);
           after(d, 200);
         }
       },
       {"single", "double", "triple", "single"}},
      {"taps 0.05 s apart: the second is debounce",
       [after](KeyScript& k, VirtualDispatcher& d) {
         k.tap(Key::alt);
         after(d, 50);
         k.tap(Key::alt);
       },
       {"single"}},
      {"the count resets one window after the last tap",
       [after](KeyScript& k, VirtualDispatcher& d) {
         k.tap(Key::alt);
         after(d, 200);
         k.tap(Key::alt);
         after(d, 281);
         k.tap(Key::alt);
       },
       {"single", "double", "single"}},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualDispatcher dispatcher;
    testing::LogCapture log;
    OptionKeyToggleMonitor monitor(dispatcher);
    std::vector<std::string> calls;
    monitor.onSingleTap = [&] { calls.push_back("single"); };
    monitor.onDoubleTap = [&] { calls.push_back("double"); };
    monitor.onTripleTap = [&] { calls.push_back("triple"); };
    KeyScript keys([&](const KeyboardEvent& e) { monitor.handle(e); });
    c.script(keys, dispatcher);
    EXPECT_EQ(calls, c.expected);
    if (std::string(c.name).find("debounce") != std::string::npos) {
      EXPECT_TRUE(log.contains("option toggle ignored debounce"));
    }
  }
}

struct ControlCase {
  const char* name;
  bool shouldHandle;
  std::function<void(KeyScript&, VirtualDispatcher&)> script;
  std::vector<std::string> expected;
};

TEST(TapControlMonitor, TapsHoldsAndStyleDigits) {
  const std::vector<ControlCase> cases = {
      {"bare tap while idle", true, [](KeyScript& k, VirtualDispatcher&) { k.tap(Key::leftControl); },
       {"preview:none", "show", "preview:none", "hide", "single"}},
      {"hold, press 3, release: style commit and no tap", true,
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::leftControl);
         k.press(Key::digit, 3);
         k.release(Key::digit, 3);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:3", "preview:none", "hide", "style:3"}},
      {"keypad 5 is style 5", true,
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::leftControl);
         k.press(Key::keypadDigit, 5);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:5", "preview:none", "hide", "style:5"}},
      {"hold, press 9, release: neither tap nor style", true,
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::leftControl);
         k.press(Key::digit, 9);
         k.release(Key::digit, 9);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:none", "hide"}},
      {"right control alone", true, [](KeyScript& k, VirtualDispatcher&) { k.tap(Key::rightControl); }, {}},
      {"shift pressed and released while control held: still a tap", true,
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::leftControl);
         k.tap(Key::shift);
         k.click();
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:none", "hide", "single"}},
      {"a repeat of the digit does not select again", true,
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::leftControl);
         k.press(Key::digit, 2);
         k.press(Key::digit, 2, /*repeat=*/true);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:2", "preview:none", "hide", "style:2"}},
      {"not handled while busy: no palette, digit passes, no tap", false,
       [](KeyScript& k, VirtualDispatcher&) {
         k.press(Key::leftControl);
         k.press(Key::digit, 3);
         k.release(Key::leftControl);
       },
       {}},
      {"taps 0.2 s apart: single then double, then triple", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         for (int i = 0; i < 3; ++i) {
           k.tap(Key::leftControl);
           d.advance(Milliseconds(200));
         }
       },
       {"preview:none", "show", "preview:none", "hide", "single", "preview:none", "show", "preview:none",
        "hide", "double", "preview:none", "show", "preview:none", "hide", "triple"}},
      {"taps 0.35 s apart are single taps", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.tap(Key::leftControl);
         d.advance(Milliseconds(350));
         k.tap(Key::leftControl);
       },
       {"preview:none", "show", "preview:none", "hide", "single", "preview:none", "show", "preview:none",
        "hide", "single"}},
  };
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualDispatcher dispatcher;
    ControlStyleKeyMonitor monitor(dispatcher);
    std::vector<std::string> calls;
    monitor.shouldHandle = [&] { return c.shouldHandle; };
    monitor.onSingleTap = [&] { calls.push_back("single"); };
    monitor.onDoubleTap = [&] { calls.push_back("double"); };
    monitor.onTripleTap = [&] { calls.push_back("triple"); };
    monitor.onModePaletteShow = [&] { calls.push_back("show"); };
    monitor.onModePaletteHide = [&] { calls.push_back("hide"); };
    monitor.onStyleDigitPreview = [&](std::optional<int> d) {
      calls.push_back(d ? "preview:" + std::to_string(*d) : "preview:none");
    };
    monitor.onStyleDigit = [&](int d) { calls.push_back("style:" + std::to_string(d)); };
    KeyScript keys([&](const KeyboardEvent& e) { monitor.handle(e); });
    c.script(keys, dispatcher);
    EXPECT_EQ(calls, c.expected);
  }
}

TEST(TapControlMonitor, StyleDigitIsReportedAsHandledSoOurWindowsCanSwallowIt) {
  VirtualDispatcher dispatcher;
  ControlStyleKeyMonitor monitor(dispatcher);
  const KeyboardEvent down{KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, modifier::leftControl};
  EXPECT_FALSE(monitor.handle(down));
  EXPECT_TRUE(monitor.handle({KeyboardEvent::Type::keyDown, Key::digit, 4, false, modifier::leftControl}));
  EXPECT_FALSE(monitor.handle({KeyboardEvent::Type::keyDown, Key::other, -1, false, modifier::leftControl}));
}

// A fake source that records subscriptions, to check that monitors unsubscribe when they go.
class FakeSource final : public KeyboardEventSource {
 public:
  Subscription observe(Scope scope, KeyboardObserver observer) override {
    if (refuse) return {};
    observers.push_back(std::move(observer));
    scopes.push_back(scope);
    const std::size_t index = observers.size() - 1;
    return Subscription([this, index] { observers[index] = nullptr; });
  }
  void send(const KeyboardEvent& e) {
    for (auto& o : observers)
      if (o) o(e);
  }
  bool refuse = false;
  std::vector<KeyboardObserver> observers;
  std::vector<Scope> scopes;
};

TEST(TapMonitors, StartSubscribesEverywhereAndStopsWithTheMonitor) {
  VirtualDispatcher dispatcher;
  testing::LogCapture log;
  FakeSource source;
  int taps = 0;
  {
    OptionKeyToggleMonitor option(dispatcher);
    ControlStyleKeyMonitor control(dispatcher);
    option.onSingleTap = [&] { ++taps; };
    ASSERT_TRUE(option.start(source));
    ASSERT_TRUE(control.start(source));
    EXPECT_EQ(source.scopes, (std::vector{KeyboardEventSource::Scope::everywhere, KeyboardEventSource::Scope::everywhere}));
    source.send({KeyboardEvent::Type::modifierChanged, Key::alt, -1, false, modifier::alt});
    source.send({KeyboardEvent::Type::modifierChanged, Key::alt, -1, false, 0});
    EXPECT_EQ(taps, 1);
  }
  EXPECT_TRUE(log.contains("option key toggle monitor started"));
  EXPECT_TRUE(log.contains("left control style key monitor started"));
  EXPECT_EQ(source.observers[0], nullptr);
  EXPECT_EQ(source.observers[1], nullptr);
  dispatcher.advance(Milliseconds(1000));  // the pending tap-window check must not touch the gone monitor

  source.refuse = true;
  OptionKeyToggleMonitor refused(dispatcher);
  EXPECT_FALSE(refused.start(source));
}

}  // namespace
}  // namespace sorvane
