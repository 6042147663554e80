#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "context/context_collector.h"
#include "core/unicode_text.h"
#include "support/fake_accessibility.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using testing::FakeAccessibility;
using testing::FakeElement;
using Attr = AXStringAttribute;

// One screen, 1440x900; accessibility y = 900 - desktop y - height.
class ContextCollectorTest : public ::testing::Test {
 protected:
  ContextCollectorTest() {
    auto owned = std::make_unique<FakeAccessibility>();
    fake = owned.get();
    fake->window = FakeElement::make("AXWindow")->title("Notes")->frame({100, 100, 800, 600});
    collector = std::make_unique<ContextCollector>(std::move(owned), dispatcher);
  }

  // A focused element inside the window.
  std::shared_ptr<FakeElement> focus(std::shared_ptr<FakeElement> element) {
    fake->focused = element;
    fake->window->add(element);
    return element;
  }

  testing::VirtualDispatcher dispatcher;
  FakeAccessibility* fake = nullptr;
  std::unique_ptr<ContextCollector> collector;
};

TEST_F(ContextCollectorTest, CaretFrameFromTheFocusedElementOrItsDescendants) {
  struct Case {
    const char* name;
    std::function<void(FakeAccessibility&)> build;
    std::optional<Rect> caret;
  } cases[] = {
      {"caret at the end, no answer for the empty range: right edge of the last character",
       [](FakeAccessibility& f) {
         f.focused = FakeElement::make("AXTextArea")->value("hello")->boundsAt(4, 1, {100, 200, 8, 18});
       },
       Rect{108, 682, 2, 18}},
      {"empty range answered, size normalised",
       [](FakeAccessibility& f) {
         f.focused = FakeElement::make("AXTextArea")->value("hello")->range(2, 0)->boundsAt(2, 0, {50, 100, 0, 10});
       },
       Rect{50, 790, 2, 16}},
      {"no empty-range answer: the selection's bounds",
       [](FakeAccessibility& f) {
         f.focused = FakeElement::make("AXTextField")->value("hello")->range(1, 3)->boundsAt(1, 3, {10, 10, 30, 60});
       },
       Rect{10, 830, 12, 48}},
      {"unusable answers (too wide, zero height) fall through to the character before",
       [](FakeAccessibility& f) {
         f.focused = FakeElement::make("AXTextArea")
                         ->value("hello")
                         ->range(3, 0)
                         ->boundsAt(3, 0, {0, 0, 5000, 20})
                         ->boundsAt(2, 1, {30, 40, 7, 0});
       },
       std::nullopt},
      {"caret at 0 without answers: nothing from the focused element, the descendant follows",
       [](FakeAccessibility& f) {
         auto inner = FakeElement::make("AXTextArea")->value("ab")->range(2, 0)->boundsAt(2, 0, {60, 100, 1, 20});
         f.focused = FakeElement::make("AXTextArea")->value("hello")->range(0, 0)->add(inner);
       },
       Rect{60, 780, 2, 20}},
      {"a descendant qualifies by a settable value; one off every screen does not",
       [](FakeAccessibility& f) {
         auto offscreen = FakeElement::make("AXGroup")->value("xy")->boundsAt(2, 0, {5000, 5000, 2, 20});
         offscreen->settable = true;
         auto settable = FakeElement::make("AXGroup")->value("xy")->boundsAt(2, 0, {70, 100, 2, 20});
         settable->settable = true;
         f.focused = FakeElement::make("AXGroup")->add(offscreen)->add(settable);
       },
       Rect{70, 780, 2, 20}},
      {"the window's descendants when nothing has focus",
       [](FakeAccessibility& f) {
         f.window->add(FakeElement::make("AXComboBox")->value("abc")->boundsAt(3, 0, {80, 100, 1, 20}));
       },
       Rect{80, 780, 2, 20}},
  };
  for (const auto& c : cases) {
    auto owned = std::make_unique<FakeAccessibility>();
    owned->window = FakeElement::make("AXWindow");
    c.build(*owned);
    ContextCollector local(std::move(owned), dispatcher);
    EXPECT_EQ(local.collect().caretFrame, c.caret) << c.name;
  }
}

TEST_F(ContextCollectorTest, TextAroundTheCursorCountsUtf16Units) {
  std::string value;
  for (int i = 0; i < 300; ++i) value += "abcdefghij";
  focus(FakeElement::make("AXTextArea")->value(value)->range(1500, 10))->set(Attr::selectedText, "abcdefghij");
  InputContext context = collector->collect();
  EXPECT_EQ(context.textBeforeCursor, value.substr(600, 900));
  EXPECT_EQ(context.textAfterCursor, value.substr(1510, 900));
  EXPECT_EQ(context.selectedText, "abcdefghij");

  struct Case {
    const char* value;
    std::optional<AXTextRange> range;
    const char* before;
    const char* after;
  } cases[] = {
      {"  hello world  ", std::nullopt, "hello world", ""},  // no range: the caret is at the end
      {"😀abc", AXTextRange{2, 0}, "😀", "abc"},             // the emoji is two units
      {"abc", AXTextRange{7, 4}, "abc", ""},                 // clamped to the value
      {"abcdef", AXTextRange{2, -3}, "ab", "cdef"},          // a negative length is empty
      {"", AXTextRange{0, 0}, "", ""},
  };
  for (const auto& c : cases) {
    auto element = FakeElement::make("AXTextArea")->value(c.value);
    element->selectedRange = c.range;
    fake->focused = element;
    InputContext sliced = collector->collect();
    EXPECT_EQ(sliced.textBeforeCursor, c.before) << c.value;
    EXPECT_EQ(sliced.textAfterCursor, c.after) << c.value;
  }
}

TEST_F(ContextCollectorTest, VisibleTextSkipsControlsTitlesAndTheFieldItself) {
  focus(FakeElement::make("AXTextArea")->value("hello world")->range(11, 0));
  auto toolbar = FakeElement::make("AXToolbar")
                     ->add(FakeElement::make("AXStaticText")->value("Copy"))
                     ->add(FakeElement::make("AXButton")->title("Archive this thread"));
  fake->window->add(toolbar)
      ->add(FakeElement::make("AXStaticText")->value("Notes"))
      ->add(FakeElement::make("AXStaticText")->value("  HELLO \t World "))
      ->add(FakeElement::make("AXStaticText")->value("!!"))
      ->add(FakeElement::make("AXStaticText")->value("x"))
      ->add(FakeElement::make("AXStaticText")->value("Meeting   at 10\r\n\r\n\r\n\r\nroom 3"))
      ->add(FakeElement::make("AXTextField")->value("abcd"))
      ->add(FakeElement::make("AXTextField")->value("abcde"))
      ->add(FakeElement::make("AXUnknown")->set(Attr::subrole, "AXTextLabel")->set(Attr::description, "described"));
  EXPECT_EQ(collector->collect().visibleText, "Meeting at 10\n\nroom 3\nabcde\ndescribed");
}

TEST_F(ContextCollectorTest, ShorterFragmentsOfEarlierSnippetsAreDropped) {
  struct Case {
    std::vector<const char*> snippets;
    const char* visible;
  } cases[] = {
      {{"Alpha Beta Gamma", "beta gamma"}, "Alpha Beta Gamma"},
      {{"beta gamma", "Alpha Beta Gamma"}, "beta gamma\nAlpha Beta Gamma"},
  };
  for (const auto& c : cases) {
    fake->window->children.clear();
    for (const char* snippet : c.snippets) fake->window->add(FakeElement::make("AXStaticText")->value(snippet));
    EXPECT_EQ(collector->collect().visibleText, c.visible);
  }
}

TEST_F(ContextCollectorTest, BrowserFieldsOnlyForBrowsers) {
  struct Case {
    const char* identifier;
    BrowserPage page;
    const char* visible;
    const char* url;
    bool editable;
  } cases[] = {
      {"org.example.webviewer", {"https://example.org/", "Example", true, true}, "", "", false},
      {"firefox", {"https://example.org/a", "  Example  ", true, true}, "", "https://example.org/a", true},
      {"chromium", {"https://docs.qq.com/doc/1", "Doc", false, true}, "", "https://docs.qq.com/doc/1", true},
      {"chromium", {"https://docs.qq.com/doc/1", "Doc", false, false}, "", "https://docs.qq.com/doc/1", false},
      {"google-chrome", {"https://example.org/", "Post", false, true}, "Leave a comment below", "https://example.org/",
       true},
      {"google-chrome", {"https://example.org/", "Post", false, true}, "Nothing to see", "https://example.org/", false},
  };
  for (const auto& c : cases) {
    fake->frontmost = FrontmostApplication{"Browser", c.identifier, 7, ""};
    fake->page = c.page;
    fake->window->children.clear();
    fake->window->add(FakeElement::make("AXStaticText")->value(c.visible));
    fake->browserPageCalls = 0;
    InputContext context = collector->collect();
    const bool browser = std::string(c.url) != "";
    EXPECT_EQ(fake->browserPageCalls, browser ? 1u : 0u) << c.identifier;
    EXPECT_EQ(context.browserURL, c.url) << c.identifier;
    EXPECT_EQ(context.browserTitle, browser ? text::trim(c.page.title) : "") << c.identifier;
    EXPECT_EQ(context.browserEditableFocused, c.editable) << c.identifier << " " << c.visible;
  }
}

// The first `count` elements, in walk order, of a window holding groups of 100 buttons.
std::shared_ptr<FakeElement> buttonTree(int count) {
  auto window = FakeElement::make("AXWindow");
  int made = 1;
  while (made < count) {
    auto group = FakeElement::make("AXSplitGroup");
    window->add(group);
    ++made;
    for (int i = 0; i < 100 && made < count; ++i, ++made) group->add(FakeElement::make("AXButton"));
  }
  return window;
}

TEST_F(ContextCollectorTest, WalkLimitsBoundTheCostOfLargeTrees) {
  auto callsFor = [&](int elements, bool withCaret) {
    auto owned = std::make_unique<FakeAccessibility>();
    FakeAccessibility* port = owned.get();
    port->window = buttonTree(elements);
    if (withCaret) port->focused = FakeElement::make("AXTextArea")->value("ab")->boundsAt(2, 0, {10, 10, 2, 20});
    ContextCollector local(std::move(owned), dispatcher);
    ContextCollectionStats stats;
    local.collect(&stats);
    EXPECT_EQ(stats.accessibilityCalls, port->calls);
    return port->calls;
  };
  // The visible-text walk stops after 700 elements.
  EXPECT_EQ(callsFor(10'000, true), callsFor(700, true));
  // The caret search through the window stops after 240 elements.
  EXPECT_LE(callsFor(10'000, false), callsFor(700, false));
}

TEST_F(ContextCollectorTest, AnUnresponsiveApplicationCostsOneBudget) {
  fake->clock = &dispatcher.virtualClock();
  auto field = focus(FakeElement::make("AXTextArea")->value("text"));
  field->hung = true;
  ContextCollectionStats stats;
  testing::LogCapture log;
  InputContext context = collector->collect(&stats);
  EXPECT_EQ(dispatcher.virtualClock().elapsedMs(), kContextCollectionBudget.count());
  EXPECT_TRUE(stats.budgetExhausted);
  EXPECT_EQ(stats.accessibilityCalls, 5u);  // application, element, focus, window, the first read of the field
  EXPECT_EQ(context.appName, "Editor");
  EXPECT_EQ(context.source, "accessibility");
  EXPECT_TRUE(context.focusedRole.empty());
  EXPECT_TRUE(context.collectionCutShort);  // so the turn can look again before giving up on a field
  EXPECT_TRUE(log.contains("context budget exhausted app=Editor calls=5 budgetMs=400"));

  // The next collection has its own budget.
  field->hung = false;
  const InputContext again = collector->collect();
  EXPECT_EQ(again.focusedRole, "AXTextArea");
  EXPECT_FALSE(again.collectionCutShort);
}

// A browser rebuilding its tree after a paste answers each call late: the turn's
// collection runs out before it reaches the field, the look again with the retry budget
// gets there.
TEST_F(ContextCollectorTest, TheRetryBudgetReachesAFieldThatAnswersSlowly) {
  fake->clock = &dispatcher.virtualClock();
  auto field = focus(FakeElement::make("AXTextArea")->value("text"));
  field->slow = Milliseconds(450);
  testing::LogCapture log;
  const InputContext first = collector->collect();
  EXPECT_TRUE(first.collectionCutShort);
  EXPECT_FALSE(first.pasteTargetReason());
  EXPECT_TRUE(log.contains("budgetMs=400"));
  const InputContext again = collector->collect(nullptr, kContextRetryBudget);
  EXPECT_EQ(again.focusedRole, "AXTextArea");
  EXPECT_EQ(again.pasteTargetReason().value_or(""), "focused-text-role");
}

TEST_F(ContextCollectorTest, NoFrontmostApplicationGivesAnEmptyContextWithoutLogging) {
  fake->frontmost.reset();
  testing::LogCapture log;
  InputContext context = collector->collect();
  EXPECT_EQ(context.source, "none");
  EXPECT_TRUE(context.appName.empty());
  EXPECT_FALSE(context.focusedFrame);
  EXPECT_TRUE(log.lines().empty());
}

// xterm and most terminals have no accessibility tree: the window system's window and
// title still make a paste target, since the paste keys reach that window.
TEST_F(ContextCollectorTest, AWindowWhoseApplicationHasNoTreeIsStillAPasteTarget) {
  fake->frontmost = FrontmostApplication{"XTerm", "xterm", 77, "user@host: ~/src"};
  fake->application = nullptr;
  testing::LogCapture log;
  const InputContext context = collector->collect();
  EXPECT_EQ(context.source, "window");
  EXPECT_TRUE(context.accessibilityTreeMissing);
  EXPECT_EQ(context.windowTitle, "user@host: ~/src");
  EXPECT_EQ(context.pasteTargetReason().value_or("<none>"), "window-without-accessibility");
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("pasteReason=window-without-accessibility"), std::string::npos) << log.lines()[0];

  // An application with a tree but no focused field is not one.
  fake->frontmost = FrontmostApplication{"Viewer", "org.example.viewer", 78, "photo.png"};
  fake->application = FakeElement::make("AXApplication");
  fake->focused = nullptr;
  const InputContext withTree = collector->collect();
  EXPECT_EQ(withTree.source, "accessibility");
  EXPECT_FALSE(withTree.accessibilityTreeMissing);
  EXPECT_FALSE(withTree.pasteTargetReason().has_value()) << *withTree.pasteTargetReason();
}

TEST_F(ContextCollectorTest, FieldsAreTrimmedFramedAndLogged) {
  fake->frontmost = FrontmostApplication{"  Notes  ", "org.example.notes", 9, ""};
  auto field = focus(FakeElement::make("AXTextArea")->title(" Body ")->value("hello")->frame({200, 300, 400, 1}));
  field->settable = true;
  testing::LogCapture log;
  InputContext context = collector->collect();
  EXPECT_EQ(context.appName, "Notes");
  EXPECT_EQ(context.focusedTitle, "Body");
  EXPECT_TRUE(context.focusedValueSettable);
  // A frame one point high is not usable: the window's frame stands in.
  EXPECT_EQ(context.focusedFrame, (Rect{100, 200, 800, 600}));
  EXPECT_EQ(context.windowTitle, "Notes");
  EXPECT_EQ(context.visibleText, "Body");  // the field's own value is left out, its title is not
  EXPECT_EQ(log.lines(), std::vector<std::string>{"context collected app=Notes scene=" + std::string(context.scene()) +
                                                  " role=AXTextArea settable=true webEditable=false"
                                                  " pasteReason=focused-text-role chars=14 visibleChars=4"});
}

TEST(ContextCollectorFrames, AccessibilityToDesktopSpace) {
  const Rect left{0, 180, 1440, 900};
  const Rect right{1440, 0, 1920, 1080};
  struct Case {
    Rect ax;
    std::vector<Rect> screens;
    std::optional<Rect> main;
    Rect desktop;
  } cases[] = {
      {{10, 20, 100, 30}, {}, std::nullopt, {10, 20, 100, 30}},                      // no screens
      {{10, 20, -1, 30}, {left}, left, {10, 20, -1, 30}},                            // negative width
      {{10, 20, 100, 30}, {{0, 0, 1440, 900}}, std::nullopt, {10, 850, 100, 30}},    // one screen
      {{1600, 100, 800, 600}, {left, right}, left, {1600, 380, 800, 600}},           // the first near screen
      {{9000, 20, 10, 10}, {left, right}, right, {9000, 1050, 10, 10}},              // none near: the main one
      {{9000, 20, 10, 10}, {left, right}, std::nullopt, {9000, 1050, 10, 10}},       // else the first
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ContextCollector::appKitFrame(c.ax, c.screens, c.main), c.desktop) << c.ax.x << "," << c.ax.y;
  }
}

TEST_F(ContextCollectorTest, TargetScreenFollowsTheWindowElseTheMouse) {
  const Rect left{0, 180, 1440, 900};
  const Rect right{1440, 0, 1920, 1080};
  fake->screenFrames = {left, right};
  fake->main = left;
  fake->window->frame({1600, 100, 800, 600});
  EXPECT_EQ(collector->targetScreenForFrontmostWindow(), right);

  fake->window = nullptr;
  fake->mouse = AXPoint{2000, 500};
  EXPECT_EQ(collector->targetScreenForFrontmostWindow(), right);
  fake->mouse = AXPoint{-50, -50};
  EXPECT_EQ(collector->targetScreenForFrontmostWindow(), left);
  fake->screenFrames.clear();
  fake->main.reset();
  EXPECT_EQ(collector->screenContainingMouse(), std::nullopt);
}

// Screens are chosen by their whole frames (the mouse may be over a panel), and the turn's
// windows go inside the chosen one's work area; a work area that makes no sense is ignored.
TEST_F(ContextCollectorTest, TheChosenScreenComesAsItsWorkArea) {
  const Rect left{0, 180, 1440, 900};
  const Rect right{1440, 0, 1920, 1080};
  const Rect rightBelowTopPanel{1440, 0, 1920, 1048};
  fake->screenFrames = {left, right};
  fake->main = left;
  fake->workAreas = {{right, rightBelowTopPanel}};
  fake->window = nullptr;
  fake->mouse = AXPoint{2000, 1070};  // on the right screen's top panel
  EXPECT_EQ(collector->screenContainingMouse(), rightBelowTopPanel);
  EXPECT_EQ(collector->targetScreenForFrontmostWindow(), rightBelowTopPanel);
  fake->mouse = AXPoint{100, 500};
  EXPECT_EQ(collector->screenContainingMouse(), left);  // no work area known

  for (const Rect& nonsense : {Rect{1440, 0, 0, 1048}, Rect{1400, 0, 1920, 1048}, Rect{1440, 0, 1920, 1200}}) {
    fake->workAreas = {{right, nonsense}};
    fake->mouse = AXPoint{2000, 500};
    EXPECT_EQ(collector->screenContainingMouse(), right) << nonsense.x << "," << nonsense.width;
  }
}

TEST_F(ContextCollectorTest, CallsHappenOnTheContextQueueOnly) {
  fake->requiredQueue = &dispatcher.queue(kContextQueueLabel);
  focus(FakeElement::make("AXTextArea")->value("hello"));
  collector->collect();
  collector->targetScreenForFrontmostWindow();

  std::optional<InputContext> delivered;
  bool onMain = false;
  collector->collectAsync([&](InputContext context) {
    onMain = dispatcher.mainQueue().isCurrent();
    delivered = std::move(context);
  });
  dispatcher.runUntilIdle();
  ASSERT_TRUE(delivered);
  EXPECT_TRUE(onMain);
  EXPECT_EQ(delivered->textBeforeCursor, "hello");
  EXPECT_GT(fake->calls, 0u);
  EXPECT_EQ(fake->offQueueCalls, 0u);

  // Nothing is delivered once the collector is gone.
  bool late = false;
  collector->collectAsync([&](InputContext) { late = true; });
  collector.reset();
  dispatcher.runUntilIdle();
  EXPECT_FALSE(late);
}

}  // namespace
}  // namespace sorvane
