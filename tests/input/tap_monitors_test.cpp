// The tap-key (Option) and left-Control logic in virtual time: bare taps, cancelled taps,
// tap windows, debounce, the tap-key choices, the palette's hold and style digits, and the
// everyday Control shortcuts that must do nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "input/control_style_key_monitor.h"
#include "input/option_key_toggle_monitor.h"
#include "input/tap_key.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using testing::VirtualDispatcher;

// Turns presses and releases into the events the adapter delivers, tracking held modifiers.
// `Key::alt` is the left Alt key unless `rightAlt` says otherwise.
class KeyScript {
 public:
  explicit KeyScript(std::function<void(const KeyboardEvent&)> sink) : sink_(std::move(sink)) {}
  void press(Key key, int digit = -1, bool repeat = false) { send(key, true, digit, repeat, false); }
  void release(Key key, int digit = -1) { send(key, false, digit, false, false); }
  void tap(Key key, bool rightAlt = false) {
    send(key, true, -1, false, rightAlt);
    send(key, false, -1, false, rightAlt);
  }
  void pressRightAlt() { send(Key::alt, true, -1, false, true); }
  void releaseRightAlt() { send(Key::alt, false, -1, false, true); }
  void click() { sink_({KeyboardEvent::Type::mouseDown, Key::other, -1, false, modifiers_}); }

 private:
  void send(Key key, bool down, int digit, bool repeat, bool rightAlt) {
    if (uint8_t bits = modifierBits(key, rightAlt)) {
      // Either Alt key keeps the plain Alt bit while the other is still held.
      modifiers_ = down ? (modifiers_ | bits) : (modifiers_ & ~bits);
      if (modifiers_ & (modifier::leftAlt | modifier::rightAlt)) modifiers_ |= modifier::alt;
      sink_({KeyboardEvent::Type::modifierChanged, key, -1, false, modifiers_, key == Key::alt && rightAlt});
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

// Which keys a tap-key choice listens to: a tap of its own key toggles, every other key's
// tap does nothing, and what cancels an Alt tap cancels the chosen key's tap too.
TEST(TapKeyChoice, EachChoiceTurnsATapOfItsOwnKeyOnlyIntoAToggle) {
  struct Physical {
    const char* name;
    Key key;
    bool rightAlt;
  };
  const std::vector<Physical> physical = {
      {"left alt", Key::alt, false},          {"right alt", Key::alt, true},
      {"altgr", Key::level3Shift, false},     {"left control", Key::leftControl, false},
      {"right control", Key::rightControl, false}, {"super", Key::super, false},
      {"shift", Key::shift, false}};
  struct Choice {
    TapKey key;
    std::vector<std::string> own;  // the first is pressed in the cancellation cases
  };
  const std::vector<Choice> choices = {{TapKey::eitherAlt, {"left alt", "right alt"}},
                                       {TapKey::rightAlt, {"right alt", "altgr"}},
                                       {TapKey::rightControl, {"right control"}},
                                       {TapKey::super, {"super"}}};
  for (const Choice& choice : choices) {
    SCOPED_TRACE(std::string(tapKeyWord(choice.key)));
    const auto run = [&](const std::function<void(KeyScript&, VirtualDispatcher&)>& script) {
      VirtualDispatcher dispatcher;
      OptionKeyToggleMonitor monitor(dispatcher, choice.key);
      std::vector<std::string> calls;
      monitor.onSingleTap = [&] { calls.push_back("single"); };
      monitor.onDoubleTap = [&] { calls.push_back("double"); };
      monitor.onTripleTap = [&] { calls.push_back("triple"); };
      monitor.onTapKeyDownAlone = [&] { calls.push_back("mask"); };
      KeyScript keys([&](const KeyboardEvent& e) { monitor.handle(e); });
      script(keys, dispatcher);
      return calls;
    };
    // The tap key going down alone asks for the masking key, unless a bare tap of it is
    // harmless anyway (Right Control); a key pressed with another modifier held never does.
    const bool masks = choice.key != TapKey::rightControl;
    const auto masked = [&](std::vector<std::string> calls) {
      if (masks) calls.insert(calls.begin(), "mask");
      return calls;
    };
    for (const Physical& key : physical) {
      SCOPED_TRACE(key.name);
      const bool own = std::find(choice.own.begin(), choice.own.end(), key.name) != choice.own.end();
      EXPECT_EQ(run([&](KeyScript& k, VirtualDispatcher&) { k.tap(key.key, key.rightAlt); }),
                own ? masked({"single"}) : std::vector<std::string>{});
    }
    const Physical mine = *std::find_if(physical.begin(), physical.end(),
                                        [&](const Physical& p) { return p.name == choice.own.front(); });
    const auto down = [&](KeyScript& k) { mine.rightAlt ? k.pressRightAlt() : k.press(mine.key); };
    const auto up = [&](KeyScript& k) { mine.rightAlt ? k.releaseRightAlt() : k.release(mine.key); };
    EXPECT_EQ(run([&](KeyScript& k, VirtualDispatcher& d) {
                for (int i = 0; i < 3; ++i) {
                  k.tap(mine.key, mine.rightAlt);
                  d.advance(Milliseconds(200));
                }
              }),
              (masks ? std::vector<std::string>{"mask", "single", "mask", "double", "mask", "triple"}
                     : std::vector<std::string>{"single", "double", "triple"}));
    const std::vector<std::pair<const char*, std::function<void(KeyScript&)>>> cancels = {
        {"a letter", [](KeyScript& k) { k.tap(Key::other); }},
        {"a click", [](KeyScript& k) { k.click(); }},
        {"shift", [](KeyScript& k) { k.tap(Key::shift); }},
        {"left control", [](KeyScript& k) { k.tap(Key::leftControl); }},
        {"left alt", [](KeyScript& k) { k.tap(Key::alt); }},
    };
    for (const auto& cancel : cancels) {
      const char* name = cancel.first;
      const auto& between = cancel.second;  // a plain reference: lambdas may capture it
      if (choice.key == TapKey::eitherAlt && std::string(name) == "left alt") continue;  // the same key
      SCOPED_TRACE(name);
      EXPECT_EQ(run([&](KeyScript& k, VirtualDispatcher&) {
                  down(k);
                  between(k);
                  up(k);
                }),
                masked({}));
    }
    if (choice.key != TapKey::eitherAlt) {
      SCOPED_TRACE("pressed while left alt is held");
      EXPECT_EQ(run([&](KeyScript& k, VirtualDispatcher&) {
                  k.press(Key::alt);
                  k.tap(mine.key, mine.rightAlt);
                  k.release(Key::alt);
                }),
                std::vector<std::string>{});
    }
  }
}

// Chosen in the settings while the app runs: the new key counts from then on, the old one
// no longer, and a press of the old key under way when it changed never becomes a tap.
TEST(TapKeyChoice, ANewKeyAppliesAtOnce) {
  VirtualDispatcher dispatcher;
  OptionKeyToggleMonitor monitor(dispatcher, TapKey::eitherAlt);
  int taps = 0;
  monitor.onSingleTap = [&] { ++taps; };
  KeyScript keys([&](const KeyboardEvent& e) { monitor.handle(e); });
  keys.press(Key::alt);
  monitor.setTapKey(TapKey::rightControl);
  keys.release(Key::alt);
  dispatcher.advance(Milliseconds(400));
  EXPECT_EQ(taps, 0);
  keys.tap(Key::alt);
  dispatcher.advance(Milliseconds(400));
  EXPECT_EQ(taps, 0);
  keys.tap(Key::rightControl);
  dispatcher.advance(Milliseconds(400));
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(monitor.tapKey(), TapKey::rightControl);
}

TEST(TapKeyChoice, TheFileWordAndTheDefault) {
  testing::LogCapture log;
  const std::vector<std::pair<std::optional<std::string>, TapKey>> cases = {
      {"alt", TapKey::eitherAlt},          {"right-alt\n", TapKey::rightAlt}, {"  Right-Control ", TapKey::rightControl},
      {"super", TapKey::super},            {std::nullopt, TapKey::eitherAlt}};
  for (const auto& [content, expected] : cases) {
    SCOPED_TRACE(content.value_or("(no file)"));
    EXPECT_EQ(tapKeyFromFile(content), expected);
  }
  EXPECT_FALSE(log.contains("tap key unknown"));
  EXPECT_EQ(tapKeyFromFile(std::string("ctrl")), TapKey::eitherAlt);
  EXPECT_TRUE(log.contains("tap key unknown; using alt value=ctrl"));
  for (TapKey key : kTapKeys) EXPECT_EQ(tapKeyFromWord(tapKeyWord(key)), key);
}

struct ControlCase {
  const char* name;
  bool shouldHandle;
  std::function<void(KeyScript&, VirtualDispatcher&)> script;
  std::vector<std::string> expected;
};

// Records the Control monitor's callbacks as words.
struct ControlRecorder {
  explicit ControlRecorder(ControlStyleKeyMonitor& monitor, bool shouldHandle = true) : handles(shouldHandle) {
    monitor.shouldHandle = [this] { return handles; };
    monitor.onSingleTap = [this] { calls.push_back("single"); };
    monitor.onDoubleTap = [this] { calls.push_back("double"); };
    monitor.onTripleTap = [this] { calls.push_back("triple"); };
    monitor.onModePaletteShow = [this] { calls.push_back("show"); };
    monitor.onModePaletteHide = [this] { calls.push_back("hide"); };
    monitor.onStyleDigitPreview = [this](std::optional<int> d) {
      calls.push_back(d ? "preview:" + std::to_string(*d) : "preview:none");
    };
    monitor.onStyleDigit = [this](int d) { calls.push_back("style:" + std::to_string(d)); };
  }
  bool handles;
  std::vector<std::string> calls;
};

const Milliseconds kHold = ControlStyleKeyMonitor::kPaletteHold;

TEST(TapControlMonitor, TapsHoldsAndStyleDigits) {
  const std::vector<ControlCase> cases = {
      {"bare tap while idle: a tap, no palette", true,
       [](KeyScript& k, VirtualDispatcher&) { k.tap(Key::leftControl); }, {"single"}},
      {"held alone for the hold time, press 3, release: palette and style commit, no tap", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         d.advance(kHold);
         k.press(Key::digit, 3);
         k.release(Key::digit, 3);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:3", "preview:none", "hide", "style:3"}},
      {"held just short of the hold time: no palette, the release is a tap", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         d.advance(kHold - Milliseconds(1));
         k.release(Key::leftControl);
         d.advance(Milliseconds(1000));
       },
       {"single"}},
      {"keypad 5 on the palette is style 5", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         d.advance(kHold);
         k.press(Key::keypadDigit, 5);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:5", "preview:none", "hide", "style:5"}},
      {"palette, press 9, release: neither tap nor style", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         d.advance(kHold);
         k.press(Key::digit, 9);
         k.release(Key::digit, 9);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:none", "hide"}},
      {"a digit before the palette is the application's: no palette even when Control stays down", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         d.advance(Milliseconds(100));
         k.press(Key::digit, 2);
         k.release(Key::digit, 2);
         d.advance(kHold * 2);
         k.press(Key::digit, 3);
         k.release(Key::leftControl);
       },
       {}},
      {"right control alone", true, [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::rightControl);
         d.advance(kHold);
         k.release(Key::rightControl);
       }, {}},
      {"shift pressed and released while control held: still a tap, no palette", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         k.tap(Key::shift);
         d.advance(kHold);
         k.release(Key::leftControl);
       },
       {"single"}},
      {"control pressed while shift is held: a chord, no palette", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::shift);
         k.press(Key::leftControl);
         d.advance(kHold);
         k.release(Key::leftControl);
         k.release(Key::shift);
       },
       {"single"}},
      {"a mouse press cancels the tap and the palette", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         k.click();
         d.advance(kHold);
         k.release(Key::leftControl);
       },
       {}},
      {"ctrl+click twice is no double tap", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         for (int i = 0; i < 2; ++i) {
           k.press(Key::leftControl);
           k.click();
           k.release(Key::leftControl);
           d.advance(Milliseconds(150));
         }
       },
       {}},
      {"a key held before control repeats: no palette", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::other);
         k.press(Key::leftControl);
         k.press(Key::other, -1, /*repeat=*/true);
         d.advance(kHold);
         k.release(Key::leftControl);
       },
       {"single"}},
      {"a repeat of the digit does not select again", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         d.advance(kHold);
         k.press(Key::digit, 2);
         k.press(Key::digit, 2, /*repeat=*/true);
         k.release(Key::leftControl);
       },
       {"preview:none", "show", "preview:2", "preview:none", "hide", "style:2"}},
      {"not handled while busy: no palette, digit passes, no tap", false,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.press(Key::leftControl);
         d.advance(kHold);
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
       {"single", "double", "triple"}},
      {"taps 0.35 s apart are single taps", true,
       [](KeyScript& k, VirtualDispatcher& d) {
         k.tap(Key::leftControl);
         d.advance(Milliseconds(350));
         k.tap(Key::leftControl);
       },
       {"single", "single"}},
  };
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualDispatcher dispatcher;
    ControlStyleKeyMonitor monitor(dispatcher);
    ControlRecorder recorder(monitor, c.shouldHandle);
    KeyScript keys([&](const KeyboardEvent& e) { monitor.handle(e); });
    c.script(keys, dispatcher);
    EXPECT_EQ(recorder.calls, c.expected);
  }
}

// The everyday shortcuts, typed at an ordinary pace, show nothing and start nothing; the
// digit is not taken from the application either.
TEST(TapControlMonitor, EverydayShortcutsShowNothingAndStartNothing) {
  struct Shortcut {
    const char* name;
    Key key;
    int digit;
  };
  const Shortcut shortcuts[] = {{"Ctrl+A", Key::other, -1}, {"Ctrl+C", Key::other, -1}, {"Ctrl+S", Key::other, -1},
                                {"Ctrl+Z", Key::other, -1}, {"Ctrl+2", Key::digit, 2},   {"Ctrl+keypad 2", Key::keypadDigit, 2}};
  for (const Shortcut& shortcut : shortcuts) {
    SCOPED_TRACE(shortcut.name);
    VirtualDispatcher dispatcher;
    ControlStyleKeyMonitor monitor(dispatcher);
    ControlRecorder recorder(monitor);
    KeyScript keys([&](const KeyboardEvent& e) { EXPECT_FALSE(monitor.handle(e)); });
    for (int i = 0; i < 2; ++i) {  // twice in a row: no double tap either
      keys.press(Key::leftControl);
      dispatcher.advance(Milliseconds(80));
      keys.press(shortcut.key, shortcut.digit);
      dispatcher.advance(Milliseconds(60));
      keys.release(shortcut.key, shortcut.digit);
      dispatcher.advance(Milliseconds(80));
      keys.release(Key::leftControl);
      dispatcher.advance(Milliseconds(100));
    }
    dispatcher.advance(Milliseconds(1000));
    EXPECT_EQ(recorder.calls, std::vector<std::string>{});
  }
}

TEST(TapControlMonitor, StyleDigitIsReportedAsHandledSoOurWindowsCanSwallowIt) {
  VirtualDispatcher dispatcher;
  ControlStyleKeyMonitor monitor(dispatcher);
  const KeyboardEvent down{KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, modifier::leftControl};
  EXPECT_FALSE(monitor.handle(down));
  dispatcher.advance(ControlStyleKeyMonitor::kPaletteHold);
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
