// Text insertion over a fake clipboard and fake key synthesis, in virtual time: when the
// snapshot comes back, when it must not, modifier waits, ownership, the paste chord, the
// PRIMARY selection for xterm and two pastes close together.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "turn/text_inserter.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using testing::VirtualDispatcher;

ClipboardSnapshot userData() {
  return {{{"text/plain", "user text"}, {"text/html", "<b>user</b> text"}}, true};
}

// A selection as the display server sees it: contents and the offer that owns them
// (0: another program).
struct ClipboardState {
  ClipboardSnapshot contents;
  Clipboard::OfferId owner = 0;
  std::map<Clipboard::OfferId, std::function<void()>> onFetched;
  bool refuseOwnership = false;
  int restores = 0;
  Clipboard::OfferId lastOffer = 0;

  void userCopies(ClipboardSnapshot snapshot) {
    contents = std::move(snapshot);
    owner = 0;
  }
  // What a program reading the selection now gets.
  std::string targetFetches() {
    if (owner && onFetched[owner]) onFetched[owner]();
    return text();
  }
  std::string text() const { return contents.empty() ? "" : contents.formats.front().data; }
};

class FakeClipboard final : public Clipboard {
 public:
  FakeClipboard(ClipboardState& clipboard, ClipboardState& primary) : clipboard_(clipboard), primary_(primary) {}
  ClipboardSnapshot snapshot(ClipboardSelection which) override { return state(which).contents; }
  OfferId offerText(ClipboardSelection which, const std::string& text, std::function<void()> onFetched) override {
    ClipboardState& s = state(which);
    const OfferId id = ++next_;
    s.lastOffer = id;
    s.onFetched[id] = std::move(onFetched);
    if (s.refuseOwnership) return id;  // like Qt: setting "succeeds", the server refused
    s.contents = {{{"text/plain", text}}, true};
    s.owner = id;
    return id;
  }
  bool ownsOffer(OfferId offer) override {
    return offer != 0 && (clipboard_.owner == offer || primary_.owner == offer);
  }
  void restore(ClipboardSelection which, const ClipboardSnapshot& snapshot) override {
    ClipboardState& s = state(which);
    ++s.restores;
    s.contents = snapshot;
    s.owner = (which == ClipboardSelection::primary ? 2000 : 1000) + s.restores;  // ours, but no paste's offer
  }

 private:
  ClipboardState& state(ClipboardSelection which) {
    return which == ClipboardSelection::primary ? primary_ : clipboard_;
  }
  ClipboardState& clipboard_;
  ClipboardState& primary_;
  OfferId next_ = 0;
};

struct KeyState {
  bool modifiersHeld = false;
  std::vector<std::string> focusedClasses = {"gedit", "Gedit"};
  bool sendFails = false;
  std::vector<PasteChord> sent;
};

class FakeKeys final : public KeySynthesis {
 public:
  explicit FakeKeys(KeyState& s) : s_(s) {}
  bool userModifiersHeld() override { return s_.modifiersHeld; }
  std::vector<std::string> focusedWindowClasses() override { return s_.focusedClasses; }
  bool sendPasteChord(PasteChord chord) override {
    if (s_.sendFails) return false;
    s_.sent.push_back(chord);
    return true;
  }

 private:
  KeyState& s_;
};

class TextInserterTest : public ::testing::Test {
 protected:
  TextInserterTest() {
    clip.contents = userData();
    inserter.emplace(dispatcher, std::make_unique<FakeClipboard>(clip, primary), std::make_unique<FakeKeys>(keys));
  }
  // Pastes and returns a slot that receives the outcome.
  std::shared_ptr<std::optional<PasteOutcome>> paste(const std::string& text) {
    auto outcome = std::make_shared<std::optional<PasteOutcome>>();
    inserter->paste(text, [outcome](PasteOutcome o) { *outcome = o; });
    dispatcher.runUntilIdle();
    return outcome;
  }
  void after(int ms) { dispatcher.advance(Milliseconds(ms)); }

  VirtualDispatcher dispatcher;
  testing::LogCapture log;
  ClipboardState clip;
  ClipboardState primary;
  KeyState keys;
  std::optional<TextInserter> inserter;
};

TEST_F(TextInserterTest, RestoresTheWholeSnapshotOnlyAfterTheTargetFetched) {
  auto outcome = paste("你好 world");
  EXPECT_EQ(keys.sent, std::vector{PasteChord::controlV});
  EXPECT_EQ(clip.text(), "你好 world");
  after(300);
  clip.targetFetches();  // a slow target: past the Part's blind 0.8 s it would still be fine
  dispatcher.runUntilIdle();
  EXPECT_EQ(*outcome, PasteOutcome::pasted);
  after(149);
  EXPECT_EQ(clip.restores, 0) << "restored while the target may still read formats";
  after(1);
  EXPECT_EQ(clip.restores, 1);
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_FALSE(inserter->hasPendingRestore());
}

// Once the keys are out, the user's clipboard comes back only after the target read our
// text or at the restore bound; before that every read gets the dictated text.
TEST_F(TextInserterTest, TheUsersClipboardComesBackOnlyWhenThePasteCanNoLongerReadIt) {
  constexpr int kBound = TextInserter::kRestoreBound.count();
  constexpr int kAfterFetch = TextInserter::kRestoreAfterFetch.count();
  struct Case {
    const char* name;
    std::optional<int> fetchAt, userCopyAt, quitAt;  // ms after the keys
    PasteOutcome outcome;
    int reportedAt;
    std::optional<int> restoredAt;  // none: the clipboard is not written back
    std::string finalText;
  };
  const std::vector<Case> cases = {
      {"fetched early", 300, {}, {}, PasteOutcome::pasted, 300, 300 + kAfterFetch, "user text"},
      {"fetched after the fallback", 2000, {}, {}, PasteOutcome::fellBack, 800, 2000 + kAfterFetch, "user text"},
      {"never fetched", {}, {}, {}, PasteOutcome::fellBack, 800, kBound, "user text"},
      {"user copies meanwhile", {}, 1500, {}, PasteOutcome::fellBack, 800, {}, "copied meanwhile"},
      {"quit while pending", {}, {}, 1500, PasteOutcome::fellBack, 800, 1500, "user text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clip = ClipboardState{};
    clip.userCopies(userData());
    inserter.emplace(dispatcher, std::make_unique<FakeClipboard>(clip, primary), std::make_unique<FakeKeys>(keys));
    auto outcome = paste("dictated");
    std::optional<int> reportedAt, restoredAt;
    for (int t = 0; t <= kBound + 500; ++t) {
      if (c.fetchAt == t) {
        EXPECT_EQ(clip.targetFetches(), "dictated") << "the old clipboard was offered";
      }
      if (c.userCopyAt == t) clip.userCopies({{{"text/plain", "copied meanwhile"}}, true});
      if (c.quitAt == t) inserter->finishPendingRestore();
      dispatcher.runUntilIdle();
      if (!reportedAt && outcome->has_value()) reportedAt = t;
      if (!restoredAt && clip.restores > 0) restoredAt = t;
      after(1);
    }
    EXPECT_EQ(*outcome, c.outcome);
    EXPECT_EQ(reportedAt, c.reportedAt);
    EXPECT_EQ(restoredAt, c.restoredAt);
    EXPECT_EQ(clip.text(), c.finalText);
    EXPECT_FALSE(inserter->hasPendingRestore());
  }
}

// Quitting runs no event loop after it: a paste not yet settled reports at once, so its
// turn still records itself, and the user's clipboard is back before the app is gone.
TEST_F(TextInserterTest, AQuitBeforeTheFallbackReportsAtOnce) {
  auto outcome = paste("dictated");
  after(300);
  ASSERT_FALSE(outcome->has_value());
  inserter->finishPendingRestore();
  EXPECT_EQ(*outcome, PasteOutcome::fellBack);
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_FALSE(inserter->hasPendingRestore());
}

TEST_F(TextInserterTest, ACopyMadeBeforeTheRestoreStays) {
  // Another program's copy, and our own "Copy Last Text" of the very same text: both are
  // the user's now, even though the second has the dictated text in it.
  for (bool sameTextByUs : {false, true}) {
    SCOPED_TRACE(sameTextByUs);
    clip.userCopies(userData());
    paste("dictated");
    clip.targetFetches();
    if (sameTextByUs) {
      clip.contents = {{{"text/plain", "dictated"}}, true};
      clip.owner = 999;
    } else {
      clip.userCopies({{{"text/plain", "copied meanwhile"}}, true});
    }
    after(1000);
    EXPECT_EQ(clip.restores, 0);
    EXPECT_EQ(clip.text(), sameTextByUs ? "dictated" : "copied meanwhile");
    EXPECT_TRUE(log.contains("clipboard restore skipped clipboard changed"));
  }
}

TEST_F(TextInserterTest, EmptyClipboardKeepsTheTextAndEmptyTextChangesNothing) {
  clip.userCopies({});
  auto outcome = paste("dictated");
  clip.targetFetches();
  after(1000);
  EXPECT_EQ(*outcome, PasteOutcome::pasted);
  EXPECT_EQ(clip.restores, 0);
  EXPECT_EQ(clip.text(), "dictated");

  clip.userCopies(userData());
  keys.sent.clear();
  auto empty = paste("");
  EXPECT_EQ(*empty, PasteOutcome::nothingToPaste);
  EXPECT_TRUE(keys.sent.empty());
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_EQ(clip.lastOffer, 1u) << "empty text must not touch the clipboard";
}

TEST_F(TextInserterTest, WaitsForTheUsersModifiersAtMostHalfASecond) {
  keys.modifiersHeld = true;
  auto outcome = paste("text");
  after(300);
  EXPECT_TRUE(keys.sent.empty());
  keys.modifiersHeld = false;
  after(TextInserter::kModifierPollInterval.count());
  EXPECT_EQ(keys.sent.size(), 1u);

  // Still held at 0.5 s: no keys (they would combine with the user's), the text falls back.
  clip.targetFetches();
  after(1000);
  keys.sent.clear();
  keys.modifiersHeld = true;
  auto held = paste("second");
  after(499);
  EXPECT_FALSE(held->has_value());
  after(30);
  EXPECT_EQ(*held, PasteOutcome::fellBack);
  EXPECT_TRUE(keys.sent.empty());
  EXPECT_EQ(clip.contents.formats, userData().formats);
}

TEST_F(TextInserterTest, NoKeysWhenOwnershipIsNotConfirmedOrKeysCannotBeSent) {
  clip.refuseOwnership = true;
  auto refused = paste("text");
  EXPECT_EQ(*refused, PasteOutcome::fellBack);
  EXPECT_TRUE(keys.sent.empty());
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_EQ(clip.restores, 0);

  clip.refuseOwnership = false;
  keys.sendFails = true;
  auto unsent = paste("text");
  EXPECT_EQ(*unsent, PasteOutcome::fellBack);
  EXPECT_EQ(clip.contents.formats, userData().formats);
}

TEST_F(TextInserterTest, TheChordComesFromTheWindowFocusedAtInjection) {
  keys.modifiersHeld = true;
  paste("ls -la");
  keys.focusedClasses = {"gnome-terminal-server", "Gnome-terminal"};  // focus moved while waiting
  keys.modifiersHeld = false;
  after(20);
  EXPECT_EQ(keys.sent, std::vector{PasteChord::controlShiftV});
}

TEST(TextInserterChord, TerminalsByWindowClass) {
  const std::vector<std::pair<std::vector<std::string>, PasteChord>> cases = {
      {{"xterm", "XTerm"}, PasteChord::shiftInsert},
      {{"uxterm", "UXTerm"}, PasteChord::shiftInsert},
      {{"sakura", "Sakura"}, PasteChord::controlShiftV},
      {{"konsole", "konsole"}, PasteChord::controlShiftV},
      {{"Alacritty", "Alacritty"}, PasteChord::controlShiftV},
      {{"org.wezfurlong.wezterm"}, PasteChord::controlShiftV},
      {{"xfce4-terminal", "Xfce4-terminal"}, PasteChord::controlShiftV},
      {{"kitty"}, PasteChord::controlShiftV},
      {{"code", "Code"}, PasteChord::controlV},
      {{"firefox", "firefox"}, PasteChord::controlV},
      {{"stalonetray"}, PasteChord::controlV},  // "st" matches whole names only
      {{}, PasteChord::controlV},
  };
  for (const auto& [classes, chord] : cases) {
    EXPECT_EQ(pasteChordForWindowClasses(classes), chord) << (classes.empty() ? "" : classes[0]);
  }
}

// xterm pastes PRIMARY with Shift+Insert: PRIMARY holds the text too while the paste is
// pending, and both selections come back, each only while it is still ours.
class XtermPasteTest : public TextInserterTest {
 protected:
  XtermPasteTest() {
    keys.focusedClasses = {"xterm", "XTerm"};
    primary.userCopies({{{"text/plain", "selected in xterm"}}, true});
  }
};

TEST_F(XtermPasteTest, OwnsPrimaryAsWellAndRestoresBoth) {
  keys.modifiersHeld = true;
  auto outcome = paste("ls -la");
  EXPECT_EQ(primary.text(), "selected in xterm") << "PRIMARY is taken only when the chord needs it";
  keys.modifiersHeld = false;
  after(20);
  EXPECT_EQ(keys.sent, std::vector{PasteChord::shiftInsert});
  EXPECT_EQ(clip.text(), "ls -la");
  after(900);  // past the fallback: a late read of PRIMARY still gets our text
  EXPECT_EQ(*outcome, PasteOutcome::fellBack);
  EXPECT_EQ(primary.targetFetches(), "ls -la");
  after(TextInserter::kRestoreAfterFetch.count());
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_EQ(primary.text(), "selected in xterm");
  EXPECT_FALSE(inserter->hasPendingRestore());

  // A selection the user made meanwhile stays; the clipboard still comes back.
  auto second = paste("pwd");
  primary.userCopies({{{"text/plain", "selected meanwhile"}}, true});
  after(TextInserter::kRestoreBound.count());
  EXPECT_EQ(primary.text(), "selected meanwhile");
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_TRUE(log.contains("primary selection restore skipped selection changed"));
}

TEST_F(XtermPasteTest, TwoPastesAndAQuitLeaveTheUsersSelection) {
  paste("one");
  after(300);
  auto second = paste("two");
  EXPECT_EQ(primary.text(), "two");
  EXPECT_EQ(primary.targetFetches(), "two");
  after(TextInserter::kRestoreAfterFetch.count());
  EXPECT_EQ(*second, PasteOutcome::pasted);
  EXPECT_EQ(primary.text(), "selected in xterm");
  EXPECT_EQ(clip.contents.formats, userData().formats);

  // The second paste goes to an editor: PRIMARY keeps our first text until the end.
  paste("three");
  keys.focusedClasses = {"gedit"};
  auto fourth = paste("four");
  EXPECT_EQ(primary.text(), "three");
  inserter->finishPendingRestore();
  EXPECT_EQ(primary.text(), "selected in xterm");
  EXPECT_EQ(clip.contents.formats, userData().formats);
}

TEST_F(XtermPasteTest, PrimaryNotOwnedMeansNoKeys) {
  primary.refuseOwnership = true;
  auto outcome = paste("text");
  EXPECT_EQ(*outcome, PasteOutcome::fellBack);
  EXPECT_TRUE(keys.sent.empty());
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_EQ(primary.text(), "selected in xterm");
  EXPECT_TRUE(log.contains("paste fell back reason=primary-not-owned"));
}

TEST_F(TextInserterTest, TwoPastesCloseTogetherLeaveTheUsersClipboard) {
  // Neither paste is fetched: the second takes the first snapshot over.
  auto first = paste("one");
  after(300);
  auto second = paste("two");
  EXPECT_EQ(*first, PasteOutcome::fellBack);
  after(600);  // the first paste's 0.8 s has passed: it must not restore "one" later
  EXPECT_EQ(clip.text(), "two");
  after(300);
  EXPECT_EQ(*second, PasteOutcome::fellBack);
  EXPECT_EQ(clip.text(), "two") << "the second paste's target may still read";
  after(TextInserter::kRestoreBound.count() - 800);
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_EQ(clip.restores, 1);

  // Both fetched, the second before the first restore.
  auto third = paste("three");
  clip.targetFetches();
  after(50);
  auto fourth = paste("four");
  clip.targetFetches();
  after(1000);
  EXPECT_EQ(*third, PasteOutcome::pasted);
  EXPECT_EQ(*fourth, PasteOutcome::pasted);
  EXPECT_EQ(clip.contents.formats, userData().formats);
}

TEST_F(TextInserterTest, APasteDuringAnUnfetchedOnesWaitForTheBoundTakesItOver) {
  auto first = paste("one");
  after(TextInserter::kRestoreBound.count() - 500);  // reported as fallen back; "one" stays
  EXPECT_EQ(*first, PasteOutcome::fellBack);
  EXPECT_EQ(clip.text(), "one");
  auto second = paste("two");
  after(500);  // the first paste's bound: nothing
  EXPECT_EQ(clip.restores, 0);
  EXPECT_EQ(clip.targetFetches(), "two");
  after(TextInserter::kRestoreAfterFetch.count());
  EXPECT_EQ(*second, PasteOutcome::pasted);
  EXPECT_EQ(clip.contents.formats, userData().formats);
  EXPECT_EQ(clip.restores, 1);
}

TEST_F(TextInserterTest, ANewPasteAfterAUserCopySnapshotsTheNewCopy) {
  paste("one");
  clip.userCopies({{{"text/plain", "copied meanwhile"}}, true});
  paste("two");
  clip.targetFetches();
  after(1000);
  EXPECT_EQ(clip.text(), "copied meanwhile");
}

TEST_F(TextInserterTest, ReadsBeforeTheKeysDoNotCountAsFetched) {
  keys.modifiersHeld = true;
  auto outcome = paste("text");
  clip.targetFetches();  // a clipboard manager reading our offer at once
  keys.modifiersHeld = false;
  after(20);
  EXPECT_FALSE(outcome->has_value());
  after(800);
  EXPECT_EQ(*outcome, PasteOutcome::fellBack);
}

TEST_F(TextInserterTest, QuittingRunsThePendingRestore) {
  paste("text");
  clip.targetFetches();
  inserter->finishPendingRestore();
  EXPECT_EQ(clip.contents.formats, userData().formats);

  paste("again");
  clip.targetFetches();
  inserter.reset();  // destroyed with the restore pending
  EXPECT_EQ(clip.contents.formats, userData().formats);
  dispatcher.advance(Milliseconds(1000));  // timers of the gone inserter do nothing
}

}  // namespace
}  // namespace sorvane
