#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "turn/status_menu_model.h"

namespace sorvane {
namespace {

StatusMenuState stateOf(bool recording, bool processing, RecordingMode mode) {
  StatusMenuState state;
  state.isRecording = recording;
  state.isProcessing = processing;
  state.mode = mode;
  return state;
}

struct TitleRow {
  bool recording;
  bool processing;
  RecordingMode mode;
  const char* title;
  const char* toolTip;
};

TEST(StatusMenuModel, ToggleTitleAndToolTipForEveryStateAndMode) {
  const auto dictation = RecordingMode::dictation();
  const auto english = RecordingMode::englishTranslation();
  const auto cipher = RecordingMode::morseCipher();
  const auto rage = RecordingMode::styled(VoiceStylePreset::rage);
  const auto flirt = RecordingMode::styled(VoiceStylePreset::flirt);
  const TitleRow rows[] = {
      {true, false, dictation, "Stop Recording", "Mirla · Recording"},
      {true, false, english, "Stop Translation", "Mirla · Translating"},
      {true, false, cipher, "Stop Cipher Recording", "Mirla · Encoding"},
      {true, false, rage, "Stop Style Recording", "Mirla · 暴躁开喷"},
      {true, false, flirt, "Stop Style Recording", "Mirla · 调情上头"},
      {false, true, dictation, "Processing...", "Mirla · Processing"},
      {false, true, english, "Translating...", "Mirla · Translating"},
      {false, true, cipher, "Encoding...", "Mirla · Encoding"},
      {false, true, rage, "Rewriting...", "Mirla · Rewriting"},
      {false, false, dictation, "Start Dictation", "Mirla"},
      {false, false, english, "Start Dictation", "Mirla"},
      {false, false, cipher, "Start Dictation", "Mirla"},
      {false, false, rage, "Start Dictation", "Mirla"},
  };
  for (const TitleRow& row : rows) {
    const auto model = buildStatusMenu(stateOf(row.recording, row.processing, row.mode));
    SCOPED_TRACE(row.title);
    EXPECT_EQ(model.entry(MenuSlot::toggle).title, row.title);
    EXPECT_EQ(model.toolTip, row.toolTip);
    EXPECT_EQ(model.entry(MenuSlot::toggle).enabled, !row.processing);
    // Row 2: cancel only while recording, translation only when idle, neither while busy.
    EXPECT_EQ(model.entry(MenuSlot::cancel).visible, row.recording);
    EXPECT_EQ(model.entry(MenuSlot::startTranslation).visible, !row.recording && !row.processing);
  }
  // The separator is space, U+00B7, space.
  EXPECT_EQ(statusToolTip(stateOf(true, false, rage)), "Mirla \xC2\xB7 \xE6\x9A\xB4\xE8\xBA\x81\xE5\xBC\x80\xE5\x96\xB7");
}

TEST(StatusMenuModel, LastResultEntriesFollowTheLastTexts) {
  struct Row {
    const char* finalText;
    const char* rawText;
    bool copyAndShow;
    bool feedback;
  };
  const Row rows[] = {
      {"", "", false, false},         // before any turn
      {"你好", "", true, false},       // a final text without raw text
      {"", "ni hao", false, false},
      {"你好", "ni hao", true, true},
  };
  for (const Row& row : rows) {
    StatusMenuState state;
    state.lastFinalText = row.finalText;
    state.lastRawText = row.rawText;
    const auto model = buildStatusMenu(state);
    SCOPED_TRACE(std::string(row.finalText) + "|" + row.rawText);
    EXPECT_EQ(model.entry(MenuSlot::copyLastText).enabled, row.copyAndShow);
    EXPECT_EQ(model.entry(MenuSlot::showLastText).enabled, row.copyAndShow);
    EXPECT_EQ(model.entry(MenuSlot::recordFeedback).enabled, row.feedback);
  }
}

TEST(StatusMenuModel, EntriesInMenuOrderWithLinuxKeyNames) {
  StatusMenuState state;
  state.lastFinalText = "x";
  state.lastRawText = "y";
  const auto model = buildStatusMenu(state);
  std::vector<std::string> shown;
  for (const MenuEntry& entry : model.entries) {
    if (!entry.visible) continue;
    shown.push_back(entry.isSeparator ? "-" : entry.title + (entry.enabled ? "" : " (off)"));
  }
  const std::vector<std::string> expected = {
      "Start Dictation",
      "Start English Translation",
      "-",
      "Open Mirla Dashboard",
      "-",
      "Copy Last Text",
      "Show Last Text",
      "Record Last Result Feedback",
      "-",
      "ASR: Qwen / Deepgram / on-device fallback (off)",
      "Shortcut: Alt = Dictate (off)",
      "Shortcut: Ctrl twice = Translate to English (off)",
      "Shortcut: Ctrl three times = Cipher (off)",
      "Shortcut: Hold Ctrl + 1-8, release = One-shot style (off)",
      "Shortcut: Ctrl while recording = Stop (off)",
      "-",
      "Quit Mirla",
  };
  EXPECT_EQ(shown, expected);
  state.tapKey = TapKey::rightControl;  // the user's choice of tap key names the row
  EXPECT_EQ(buildStatusMenu(state).entry(MenuSlot::shortcutDictate).title, "Shortcut: Right Ctrl = Dictate");
  EXPECT_EQ(model.entry(MenuSlot::quit).keyEquivalent, "q");
  EXPECT_EQ(model.entry(MenuSlot::quit).action, MenuAction::quit);
  EXPECT_EQ(model.entry(MenuSlot::toggle).action, MenuAction::toggleRecording);
  for (const MenuEntry& entry : model.entries) {
    if (entry.action == MenuAction::none) {
      EXPECT_FALSE(entry.enabled) << entry.title;
    }
  }
}

}  // namespace
}  // namespace sorvane
