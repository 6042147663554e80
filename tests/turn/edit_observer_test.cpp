#include "turn/edit_observer.h"

#include <gtest/gtest.h>

#include "core/turn_metrics.h"
#include "learning/edit_observation.h"
#include "support/test_support.h"
#include "support/virtual_time.h"
#include "turn_fakes.h"

namespace sorvane::testing {
namespace {

using namespace std::chrono_literals;

// --- the text rules ---

InputContext withVisible(std::string visible, std::string app = "gedit") {
  InputContext c;
  c.appName = std::move(app);
  c.bundleIdentifier = "org.gnome." + c.appName;
  c.source = "accessibility";
  c.visibleText = std::move(visible);
  return c;
}

TEST(EditObservationRules, CandidateSelection) {
  const std::string pasted = "明天上午十点和 Orrin 开会讨论发布。";
  struct Case {
    const char* what;
    InputContext context;
    std::optional<std::string> expected;
  };
  InputContext tie;
  tie.selectedText = "明天上午十点和 Orin 开会讨论发布。";
  tie.visibleText = "明天上午十点和 Oirn 开会讨论发布。";
  const Case cases[] = {
      {"a corrected name", withVisible("标题\n明天上午十点和 Orin 开会讨论发布。"),
       "明天上午十点和 Orin 开会讨论发布。"},
      {"only punctuation and spaces changed", withVisible("明天上午十点和Orrin开会讨论发布"), std::nullopt},
      {"the paste plus 11 characters around it", withVisible("好的收到马上安排一下吧，" + pasted), std::nullopt},
      {"the paste plus 12 characters", withVisible("好的收到马上安排一下吧嗯，" + pasted),
       "好的收到马上安排一下吧嗯，" + pasted},
      {"an unrelated text", withVisible("午饭吃什么比较好呢"), std::nullopt},
      {"equal scores keep the earlier source", tie, "明天上午十点和 Orin 开会讨论发布。"},
  };
  for (const Case& c : cases) EXPECT_EQ(editedTextCandidate(c.context, pasted), c.expected) << c.what;
  EXPECT_TRUE(selfTestEditObservationCandidate());
}

TEST(EditObservationRules, SegmentsAreCleanedAndDistinct) {
  InputContext c;
  c.textBeforeCursor = "第一句。第二句\r\n第三\t\t句 ";
  c.visibleText = "第一句";  // already present: not repeated
  EXPECT_EQ(editObservationCandidateSegments(c),
            (std::vector<std::string>{"第一句。第二句\n第三 句", "第一句。第二句", "第三 句", "第一句", "第二句\n第三 句"}));
  EXPECT_EQ(normalizeForEditComparison(" 你好，世界！ (Hi) “好” "), "你好世界Hi好");
}

TEST(EditObservationRules, SameSurface) {
  InputContext original = withVisible("", "Firefox");
  original.bundleIdentifier = "firefox";
  original.browserURL = "https://docs.example.com/d/1";
  struct Case {
    const char* what;
    std::string app, bundle, url;
    bool same;
  };
  const Case cases[] = {
      {"same application, other field", "Firefox", "firefox", "", true},
      {"same bundle, other name", "Firefox Nightly", "firefox", "", true},
      {"another application", "Terminal", "org.gnome.Terminal", "", false},
      {"another browser on the same site", "Chromium", "chromium", "https://docs.example.com/d/2", true},
      {"another browser elsewhere", "Chromium", "chromium", "https://mail.example.org/", false},
  };
  for (const Case& c : cases) {
    InputContext now = withVisible("x", c.app);
    now.bundleIdentifier = c.bundle;
    now.browserURL = c.url;
    EXPECT_EQ(isSameEditObservationSurface(now, "none-baseline", original), c.same) << c.what;
  }
}

// --- the observer in virtual time ---

class FakeKeyboard final : public KeyboardEventSource {
 public:
  Subscription observe(Scope scope, KeyboardObserver observer) override {
    scopes.push_back(scope);
    observer_ = std::move(observer);
    return Subscription([this] { observer_ = nullptr; });
  }
  void press(Key key) {
    if (observer_) observer_({KeyboardEvent::Type::keyDown, key, -1, false, 0});
  }
  bool observed() const { return static_cast<bool>(observer_); }
  std::vector<Scope> scopes;

 private:
  KeyboardObserver observer_;
};

constexpr const char* kPasted = "明天上午十点和 Orrin 开会讨论发布。";
constexpr const char* kCorrected = "明天上午十点和 Orin 开会讨论发布。";

class EditObserverTest : public ::testing::Test {
 protected:
  EditObserverTest() : analyzer(d) {
    context = std::make_shared<FakeTurnContext>();
    context->context = field(kPasted);
    observer = std::make_unique<EditObserver>(
        d, EditObserver::Parts{context, &keyboard, &analyzer, &store, &hud, [] { return std::optional<Rect>(); }});
    metrics = std::make_shared<TurnMetrics>(d.clock(), tmp.path());
  }
  static InputContext field(std::string text, std::string app = "gedit") {
    InputContext c = withVisible("", std::move(app));
    c.focusedRole = "AXTextArea";
    c.textBeforeCursor = std::move(text);
    return c;
  }
  void start(std::string finalText = kPasted) {
    observer->startObservation("turn-1", "明天上午十点和欧林开会讨论发布", finalText, field(kPasted), "/a.wav", metrics);
  }

  VirtualDispatcher d;
  TempDir tmp;
  LogCapture log;
  FakeKeyboard keyboard;
  FakeTurnAnalyzer analyzer;
  FakeTurnStore store;
  FakeTurnWindows hud;
  std::shared_ptr<FakeTurnContext> context;
  std::shared_ptr<TurnMetrics> metrics;
  std::unique_ptr<EditObserver> observer;
};

TEST_F(EditObserverTest, CorrectionBeforeReturnIsLearnt) {
  start();
  ASSERT_EQ(keyboard.scopes, std::vector<KeyboardEventSource::Scope>{KeyboardEventSource::Scope::outsideOwnWindows});
  d.advance(1000ms);
  EXPECT_FALSE(observer->lastCandidate());
  // The user fixes the name and presses Return at once.
  context->context = field(kCorrected);
  keyboard.press(Key::other);
  keyboard.press(Key::returnKey);
  d.advance(200ms);
  EXPECT_EQ(observer->lastCandidate(), std::optional<std::string>(kCorrected));
  EXPECT_EQ(metrics->intValue("editObserverCandidateChars"), 20);
  store.learnResult = LearningResult{"Orin", "已记住 Orin", 0.82};
  analyzer.editAnswer = MirlaFeedbackAnalysis{"deepseek-feedback-analyzer", "", "", {"Orin"}, "", 0.82};
  d.advance(220ms);  // 0.42 s after Return
  EXPECT_FALSE(observer->isObserving());
  EXPECT_FALSE(keyboard.observed());
  ASSERT_EQ(analyzer.editCalls, std::vector<std::string>{kCorrected});
  ASSERT_EQ(store.learnCalls.size(), 1u);
  EXPECT_EQ(store.learnCalls[0].trigger, "return-key");
  EXPECT_EQ(hud.events.back(), "notice 已学习一个词 已记住 Orin");
  EXPECT_TRUE(log.contains("post paste edit observer learned turn=turn-1 trigger=return-key term=Orin "
                           "llm=deepseek-feedback-analyzer"));
  EXPECT_EQ(hud.dashboardRefreshes, 1);
}

TEST_F(EditObserverTest, ScanAskedForDuringAScanRunsAfterIt) {
  // The first collection is in flight when Return asks for another: it is kept, not dropped.
  context->script = {field(kPasted), field(kCorrected)};
  start();
  keyboard.press(Key::returnKey);
  d.runUntilIdle();
  EXPECT_EQ(context->collects, 2);
  EXPECT_EQ(observer->lastCandidate(), std::optional<std::string>(kCorrected));
}

TEST_F(EditObserverTest, EscapeEndsWithoutAnalysisOrAudit) {
  start();
  context->context = field(kCorrected);
  d.advance(500ms);
  keyboard.press(Key::escape);
  d.advance(61s);
  EXPECT_FALSE(observer->isObserving());
  EXPECT_TRUE(analyzer.editCalls.empty());
  EXPECT_TRUE(analyzer.auditCalls.empty());
  EXPECT_EQ(log.count("post paste edit observer"), 1u);  // the start line only
}

TEST_F(EditObserverTest, TypingInAnotherApplicationIsNoEditAndTheLimitEndsTheObservation) {
  start();
  context->context = field(kCorrected, "Terminal");
  analyzer.auditAnswer = MirlaFeedbackAnalysis{"deepseek-passive-audit", "", "", {"Orrin"}, "", 0.8};
  d.advance(60'000ms);
  EXPECT_TRUE(observer->isObserving());  // exactly 60 s is not over the limit
  d.advance(240ms);
  EXPECT_FALSE(observer->isObserving());
  EXPECT_TRUE(log.contains("post paste edit observer finished no-change trigger=timeout"));
  EXPECT_TRUE(log.contains("passive dictionary audit start turn=turn-1 source=timeout raw=15 final=21"));
  EXPECT_EQ(hud.events.back(),
            "ask 建议加入一个词 Mirla 觉得“Orrin”可能值得加入你的个人词典。确认后才会生效。");
  EXPECT_FALSE(metrics->intValue("editObserverCandidateChars"));
}

TEST_F(EditObserverTest, ShortTextsAndReplacedObservations) {
  start("五个字好了");
  EXPECT_FALSE(observer->isObserving());
  EXPECT_TRUE(log.lines().empty());
  start("六个字正好了");
  EXPECT_TRUE(observer->isObserving());
  // A second pasted turn replaces the first, which says nothing more.
  auto second = std::make_shared<TurnMetrics>(d.clock(), tmp.path());
  observer->startObservation("turn-2", "raw", kPasted, field(kPasted), std::nullopt, second);
  context->context = field(kCorrected);
  keyboard.press(Key::returnKey);
  d.advance(1s);
  EXPECT_EQ(log.count("turn=turn-1"), 1u);
  EXPECT_TRUE(log.contains("post paste edit observer analyzing turn=turn-2 trigger=return-key"));
  EXPECT_EQ(second->intValue("editObserverCandidateChars"), 20);
  EXPECT_FALSE(metrics->intValue("editObserverCandidateChars"));
  // Without an analysis the edit is still offered to learning.
  ASSERT_EQ(store.learnCalls.size(), 1u);
  EXPECT_FALSE(store.learnCalls[0].withAnalysis);
  EXPECT_TRUE(log.contains("post paste edit observer finished ignored trigger=return-key"));
}

TEST_F(EditObserverTest, PassiveAuditSuggestionsAndConfirmation) {
  struct Case {
    double confidence;
    std::vector<std::string> terms;
    std::optional<LearningResult> confirmed;
    std::string expectation;  // the last HUD event, or the log fragment
  };
  const Case cases[] = {
      {0.73, {"Orrin"}, std::nullopt, "passive dictionary audit no-suggestion turn=t confidence=0.73 terms=Orrin "
                                      "provider=qwen-passive-audit"},
      {0.74, {"Orrin"}, LearningResult{"Orrin", "已加入 Orrin", 0.74}, "notice 已加入词典 已加入 Orrin"},
      {0.9, {"Orrin", "Lenka"}, LearningResult{"Orrin,Lenka", "已加入两个词", 0.9}, "notice 已加入多个词 已加入两个词"},
      {0.9, {"Orrin"}, std::nullopt, "passive dictionary audit confirm ignored turn=t terms=Orrin"},
  };
  for (const Case& c : cases) {
    hud.events.clear();
    hud.confirmAction = nullptr;
    analyzer.auditAnswer = MirlaFeedbackAnalysis{"qwen-passive-audit", "", "", c.terms, "", c.confidence};
    store.confirmResult = c.confirmed;
    observer->runPassiveAudit("t", "raw", "复制面板里的文本", InputContext{}, std::nullopt, "copy-panel");
    d.runUntilIdle();
    if (c.confidence < 0.74) {
      EXPECT_TRUE(log.contains(c.expectation));
      EXPECT_TRUE(hud.events.empty());
      continue;
    }
    ASSERT_TRUE(hud.confirmAction) << c.confidence;
    EXPECT_EQ(hud.events[0].rfind(c.terms.size() == 1 ? "ask 建议加入一个词" : "ask 建议加入这些词", 0), 0u);
    hud.confirmAction();
    EXPECT_EQ(store.confirmed, c.terms);
    if (c.confirmed) {
      EXPECT_EQ(hud.events.back(), c.expectation);
    } else {
      EXPECT_TRUE(log.contains(c.expectation));
    }
  }
  analyzer.auditAnswer.reset();
  observer->runPassiveAudit("t2", "raw", "复制面板里的文本", InputContext{}, std::nullopt, "copy-panel");
  d.runUntilIdle();
  EXPECT_TRUE(log.contains("passive dictionary audit skipped turn=t2 no-analysis"));
  EXPECT_TRUE(log.contains("passive dictionary audit suggested turn=t terms=Orrin, Lenka confidence=0.9 "
                           "provider=qwen-passive-audit"));
}

}  // namespace
}  // namespace sorvane::testing
