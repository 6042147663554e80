// Text insertion end to end under the virtual X server: the real Qt clipboard adapter and
// XTest chord pasting into a GTK 3 entry, a Qt line edit, a window that never reads the
// clipboard, a terminal-class window and a real xterm (PRIMARY and Shift+Insert), with the
// user's clipboard owned by another program (text plus HTML).
#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include "turn/text_inserter.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "platform/linux/qt_clipboard.h"
#include "platform/linux/x11_key_synthesis.h"
#include "platform/linux/x11_synthetic_keys.h"
#include "support/test_support.h"
#include "x11_test_tools.h"

namespace sorvane {
namespace {

using testing::clipboardAs;
using testing::Fixture;
using testing::focusWindow;
using testing::runTool;
using testing::waitUntil;

constexpr const char* kUserText = "user text";
constexpr const char* kUserHtml = "<b>user</b> html";

class PasteIntoWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::haveX11()) GTEST_SKIP() << testing::kNeedsPrivateX;
    dispatcher_ = makeQtDispatcher(SystemClock::instance());
    inserter_.emplace(*dispatcher_, std::make_unique<platform::QtClipboard>(),
                      std::make_unique<platform::X11KeySynthesis>(
                          std::make_shared<platform::X11SyntheticKeys>(SystemClock::instance())));
  }

  // Starts a paste; the returned slot receives the outcome.
  std::shared_ptr<std::optional<PasteOutcome>> start(const std::string& text) {
    auto outcome = std::make_shared<std::optional<PasteOutcome>>();
    inserter_->paste(text, [outcome](PasteOutcome o) { *outcome = o; });
    return outcome;
  }
  // Pastes and waits until the outcome is known and no restore is pending.
  std::optional<PasteOutcome> paste(const std::string& text) {
    auto outcome = start(text);
    settle(outcome);
    return *outcome;
  }
  void settle(const std::shared_ptr<std::optional<PasteOutcome>>& outcome) {
    // A window that never fetches keeps the restore pending until the 3 s bound.
    EXPECT_TRUE(waitUntil([&] { return outcome->has_value() && !inserter_->hasPendingRestore(); },
                          std::chrono::seconds(8)));
  }
  static void pause(int ms) { waitUntil([] { return false; }, std::chrono::milliseconds(ms)); }
  static void expectUserClipboard() {
    EXPECT_EQ(clipboardAs("UTF8_STRING"), kUserText);
    EXPECT_EQ(clipboardAs("text/html"), kUserHtml);
  }

  testing::LogCapture log_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::optional<TextInserter> inserter_;
};

TEST_F(PasteIntoWindows, TextArrivesInAGtkEntryAndAQtLineEditAndTheUserClipboardComesBack) {
  Fixture owner({"owner", kUserText, kUserHtml});
  ASSERT_TRUE(owner.waitFor("owned"));
  Fixture entry({"entry", "gedit", "sorvane-gtk-entry"});
  ASSERT_TRUE(entry.waitFor("ready"));
  focusWindow("sorvane-gtk-entry");

  EXPECT_EQ(paste("你好 sorvane"), PasteOutcome::pasted);
  EXPECT_TRUE(entry.waitFor("text=你好 sorvane"));
  expectUserClipboard();
  EXPECT_NE(clipboardAs("TARGETS").find("text/html"), std::string::npos);

  QLineEdit edit;
  edit.setWindowTitle("sorvane-qt-line-edit");
  edit.show();
  focusWindow("sorvane-qt-line-edit");
  ASSERT_TRUE(waitUntil([&] { return edit.hasFocus(); }));
  EXPECT_EQ(paste("第二段 text"), PasteOutcome::pasted);
  EXPECT_EQ(edit.text().toStdString(), "第二段 text");
  expectUserClipboard();
}

TEST_F(PasteIntoWindows, ACopyMadeBetweenPasteAndRestoreIsKept) {
  Fixture owner({"owner", kUserText, kUserHtml});
  Fixture rival({"owner", "copied meanwhile", "<i>copied</i>", "--on-demand"});
  ASSERT_TRUE(owner.waitFor("owned"));
  ASSERT_TRUE(rival.waitFor("started"));
  Fixture plain({"plain", "nofetch", "sorvane-plain"});
  ASSERT_TRUE(plain.waitFor("ready"));
  focusWindow("sorvane-plain");

  auto outcome = start("dictated");
  rival.send("take");
  ASSERT_TRUE(rival.waitFor("owned"));
  settle(outcome);
  EXPECT_EQ(*outcome, PasteOutcome::fellBack);  // the window never read the text
  EXPECT_EQ(clipboardAs("UTF8_STRING"), "copied meanwhile");
  EXPECT_TRUE(log_.contains("clipboard restore skipped clipboard changed"));
}

TEST_F(PasteIntoWindows, EmptyClipboardKeepsTheTextAndEmptyTextChangesNothing) {
  {
    Fixture owner({"owner", kUserText, kUserHtml});
    ASSERT_TRUE(owner.waitFor("owned"));
    owner.stop();  // the owner's exit leaves the clipboard empty
  }
  ASSERT_EQ(clipboardAs("TARGETS"), "");
  Fixture entry({"entry", "gedit", "sorvane-gtk-entry"});
  ASSERT_TRUE(entry.waitFor("ready"));
  focusWindow("sorvane-gtk-entry");
  EXPECT_EQ(paste("dictated"), PasteOutcome::pasted);
  EXPECT_TRUE(entry.waitFor("text=dictated"));
  pause(300);
  EXPECT_EQ(clipboardAs("UTF8_STRING"), "dictated");

  Fixture owner({"owner", kUserText, kUserHtml});
  ASSERT_TRUE(owner.waitFor("owned"));
  const std::string before = entry.output;
  EXPECT_EQ(paste(""), PasteOutcome::nothingToPaste);
  pause(300);
  EXPECT_EQ(entry.output, before);
  expectUserClipboard();
}

TEST_F(PasteIntoWindows, TwoPastesCloseTogetherIntoAWindowThatNeverFetchesLeaveTheUserClipboard) {
  Fixture owner({"owner", kUserText, kUserHtml});
  ASSERT_TRUE(owner.waitFor("owned"));
  Fixture plain({"plain", "nofetch", "sorvane-plain"});
  ASSERT_TRUE(plain.waitFor("ready"));
  focusWindow("sorvane-plain");

  auto first = start("one");
  pause(300);
  auto second = start("two");
  settle(second);
  EXPECT_EQ(*first, PasteOutcome::fellBack);
  EXPECT_EQ(*second, PasteOutcome::fellBack);
  pause(200);
  expectUserClipboard();
}

TEST_F(PasteIntoWindows, ClipboardLostBeforeTheKeysMeansNoKeysAndTheFallBack) {
  Fixture owner({"owner", kUserText, kUserHtml});
  Fixture rival({"owner", "someone else", "<i>else</i>", "--on-demand"});
  ASSERT_TRUE(owner.waitFor("owned"));
  ASSERT_TRUE(rival.waitFor("started"));
  Fixture entry({"entry", "gedit", "sorvane-gtk-entry"});
  ASSERT_TRUE(entry.waitFor("ready"));
  focusWindow("sorvane-gtk-entry");

  // The held Shift keeps the paste waiting while another program takes the clipboard.
  runTool("xdotool", {"keydown", "shift"});
  auto outcome = start("never pasted");
  rival.send("take");
  ASSERT_TRUE(rival.waitFor("owned"));
  runTool("xdotool", {"keyup", "shift"});
  settle(outcome);
  EXPECT_EQ(*outcome, PasteOutcome::fellBack);
  EXPECT_TRUE(log_.contains("paste fell back reason=clipboard-not-owned"));
  pause(300);
  EXPECT_EQ(entry.output.find("never pasted"), std::string::npos);
  EXPECT_EQ(entry.output.find("key="), std::string::npos);
  EXPECT_EQ(clipboardAs("UTF8_STRING"), "someone else");
}

TEST_F(PasteIntoWindows, ATerminalFocusedAtInjectionGetsControlShiftV) {
  Fixture owner({"owner", kUserText, kUserHtml});
  ASSERT_TRUE(owner.waitFor("owned"));
  Fixture editor({"entry", "gedit", "sorvane-editor"});
  Fixture terminal({"entry", "sakura", "sorvane-terminal"});
  ASSERT_TRUE(editor.waitFor("ready"));
  ASSERT_TRUE(terminal.waitFor("ready"));
  focusWindow("sorvane-editor");

  // The paste starts while the editor has focus; the focus moves before the keys go out.
  runTool("xdotool", {"keydown", "shift"});
  auto outcome = start("ls -la");
  focusWindow("sorvane-terminal");
  runTool("xdotool", {"keyup", "shift"});
  settle(outcome);
  EXPECT_TRUE(terminal.waitFor("key=control+shift+v"));
  EXPECT_EQ(editor.output.find("key="), std::string::npos);
}

// xterm types ^V for Control+Shift+V and pastes PRIMARY on Shift+Insert: the text must
// arrive through PRIMARY, and the user's clipboard and selection both come back.
TEST_F(PasteIntoWindows, XtermGetsTheTextThroughPrimaryAndBothSelectionsComeBack) {
  const QString xterm = QStandardPaths::findExecutable("xterm");
  if (xterm.isEmpty()) GTEST_SKIP() << "xterm is not installed (scripts/setup.sh)";
  Fixture owner({"owner", kUserText, kUserHtml});
  Fixture selection({"owner", "selected in xterm", "<i>selected</i>", "--primary"});
  ASSERT_TRUE(owner.waitFor("owned"));
  ASSERT_TRUE(selection.waitFor("owned"));
  QTemporaryDir dir;
  const QString typed = dir.filePath("typed");
  // Without canonical mode cat gets the pasted bytes at once, no Return needed.
  QProcess terminal;
  terminal.start(xterm, {"-title", "sorvane-xterm", "-e", "sh", "-c",
                         "stty -icanon -echo; exec cat > \"$0\"", typed});
  // cat has started once the file exists: xterm is up, and its window can take the focus.
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(typed); }));
  focusWindow("sorvane-xterm");

  EXPECT_EQ(paste("ls -la /tmp"), PasteOutcome::pasted);
  QFile file(typed);
  EXPECT_TRUE(waitUntil([&] {
    file.open(QIODevice::ReadOnly);
    const bool done = file.readAll() == "ls -la /tmp";
    file.close();
    return done;
  }));
  EXPECT_TRUE(log_.contains("paste keys sent chord=shift+insert"));
  expectUserClipboard();
  EXPECT_EQ(runTool("xclip", {"-selection", "primary", "-o", "-t", "UTF8_STRING"}), "selected in xterm");
  terminal.kill();
  terminal.waitForFinished(2000);
}

}  // namespace
}  // namespace sorvane
