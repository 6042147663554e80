#include "input/keyboard_observers.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sorvane {
namespace {

using Type = KeyboardEvent::Type;

TEST(KeyTransition, PressRepeatAndReleaseOfEachKind) {
  struct Case {
    const char* name;
    bool wasDown;
    bool press;
    Key key;
    std::optional<Type> type;  // nullopt: nothing delivered
    bool repeat;
  };
  const std::vector<Case> cases{
      {"digit pressed", false, true, Key::digit, Type::keyDown, false},
      {"digit auto-repeat", true, true, Key::digit, Type::keyDown, true},
      {"digit released", true, false, Key::digit, Type::keyUp, false},
      {"release never pressed", false, false, Key::escape, std::nullopt, false},
      {"alt pressed", false, true, Key::alt, Type::modifierChanged, false},
      {"alt repeat dropped", true, true, Key::alt, std::nullopt, false},
      {"alt released", true, false, Key::alt, Type::modifierChanged, false},
      {"alt release never pressed", false, false, Key::alt, std::nullopt, false},
  };
  for (const Case& c : cases) {
    const auto event = keyTransition(c.wasDown, c.press, c.key, c.key == Key::digit ? 3 : -1);
    ASSERT_EQ(event.has_value(), c.type.has_value()) << c.name;
    if (!event) continue;
    EXPECT_EQ(event->type, *c.type) << c.name;
    EXPECT_EQ(event->isRepeat, c.repeat) << c.name;
    EXPECT_EQ(event->key, c.key) << c.name;
    EXPECT_EQ(event->digit, c.key == Key::digit ? 3 : -1) << c.name;
  }
}

TEST(KeyboardObservers, OwnWindowsHideKeysFromOutsideObserversOnly) {
  KeyboardObservers observers;
  std::vector<std::string> seen;
  Subscription outside = observers.add(KeyboardEventSource::Scope::outsideOwnWindows,
                                       [&](const KeyboardEvent&) { seen.push_back("outside"); });
  Subscription everywhere = observers.add(KeyboardEventSource::Scope::everywhere,
                                          [&](const KeyboardEvent&) { seen.push_back("everywhere"); });
  observers.deliver(KeyboardEvent{}, /*ownWindowFocused=*/false);
  observers.deliver(KeyboardEvent{}, /*ownWindowFocused=*/true);
  EXPECT_EQ(seen, (std::vector<std::string>{"outside", "everywhere", "everywhere"}));
}

TEST(KeyboardObservers, AnObserverMayEndItselfAndAnotherWhileDelivering) {
  KeyboardObservers observers;
  int first = 0, second = 0, third = 0;
  Subscription a, b, c;
  a = observers.add(KeyboardEventSource::Scope::everywhere, [&](const KeyboardEvent&) {
    ++first;
    a.reset();
    c.reset();
  });
  b = observers.add(KeyboardEventSource::Scope::everywhere, [&](const KeyboardEvent&) { ++second; });
  c = observers.add(KeyboardEventSource::Scope::everywhere, [&](const KeyboardEvent&) { ++third; });
  observers.deliver(KeyboardEvent{}, false);
  observers.deliver(KeyboardEvent{}, false);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(third, 0);
  b.reset();
  EXPECT_TRUE(observers.empty());
}

TEST(KeyboardObservers, ASubscriptionOutlivingItsSourceIsHarmless) {
  Subscription kept;
  {
    KeyboardObservers observers;
    kept = observers.add(KeyboardEventSource::Scope::everywhere, [](const KeyboardEvent&) {});
  }
  kept.reset();
}

}  // namespace
}  // namespace sorvane
