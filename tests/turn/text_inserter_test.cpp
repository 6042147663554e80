// Text insertion over a fake clipboard and fake key synthesis, in virtual time: when the
// snapshot comes back, when it must not, modifier waits, ownership, the paste chord and
// two pastes close together.
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

// The clipboard as the display server sees it: contents and the offer that owns them
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
  void targetFetches() {
    if (owner && onFetched[owner]) onFetched[owner]();
  }
  std::string text() const { return contents.empty() ? "" : contents.formats.front().data; }
};

class FakeClipboard final : public Clipboard {
 public:
  explicit FakeClipboard(ClipboardState& s) : s_(s) {}
  ClipboardSnapshot snapshot() override { return s_.contents; }
  OfferId offerText(const std::string& text, std::function<void()> onFetched) override {
    const OfferId id = ++next_;
    s_.lastOffer = id;
    s_.onFetched[id] = std::move(onFetched);
    if (s_.refuseOwnership) return id;  // like Qt: setting "succeeds", the server refused
    s_.contents = {{{"text/plain", text}}, true};
    s_.owner = id;
    return id;
  }
  bool ownsOffer(OfferId offer) override { return offer != 0 && s_.owner == offer; }
  void restore(const ClipboardSnapshot& snapshot) override {
    ++s_.restores;
    s_.contents = snapshot;
    s_.owner = 1000 + s_.restores;  // our own data now, but no offer of a paste
  }

 private:
  ClipboardState& s_;
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
    inserter.emplace(dispatcher, std::make_unique<FakeClipboard>(clip), std::make_unique<FakeKeys>(keys));
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

TEST_F(TextInserterTest, ATargetThatNeverFetchesFallsBackAndGetsTheUserClipboardBack) {
  auto outcome = paste("text");
  after(799);
  EXPECT_FALSE(outcome->has_value());
  EXPECT_EQ(clip.restores, 0);
  after(1);
  EXPECT_EQ(*outcome, PasteOutcome::fellBack);
  EXPECT_EQ(clip.contents.formats, userData().formats);
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
      {{"xterm", "XTerm"}, PasteChord::controlShiftV},
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

TEST_F(TextInserterTest, TwoPastesCloseTogetherLeaveTheUsersClipboard) {
  // Neither paste is fetched: the second takes the first snapshot over.
  auto first = paste("one");
  after(300);
  auto second = paste("two");
  EXPECT_EQ(*first, PasteOutcome::fellBack);
  after(600);  // the first paste's 0.8 s bound has passed: it must not restore "one" later
  EXPECT_EQ(clip.text(), "two");
  after(300);
  EXPECT_EQ(*second, PasteOutcome::fellBack);
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
