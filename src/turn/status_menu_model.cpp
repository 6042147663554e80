#include "turn/status_menu_model.h"

// The busy word ("Processing", "Translating" ...) is the capsule's processing title,
// shown with "..." in the menu and bare in the tool tip.
#include "turn/hud_layout.h"

namespace sorvane {
namespace {

std::string_view recordingLabel(const RecordingMode& mode) {
  switch (mode.kind()) {
    case RecordingMode::Kind::dictation:
      return "Recording";
    case RecordingMode::Kind::englishTranslation:
      return "Translating";
    case RecordingMode::Kind::morseCipher:
      return "Encoding";
    case RecordingMode::Kind::styled:
      return mode.stylePreset() ? mode.stylePreset()->hudTitle() : std::string_view("Rewriting");
  }
  return "Recording";
}

struct InfoRow {
  MenuSlot slot;
  std::string_view title;
};

// Plain information rows. The on-device recogniser takes the place of the fallback the
// engine reports as "apple-speech-fallback".
constexpr InfoRow kInfoRows[] = {
    {MenuSlot::asrInfo, "ASR: Qwen / Deepgram / on-device fallback"},
    {MenuSlot::shortcutTranslate, "Shortcut: Ctrl twice = Translate to English"},
    {MenuSlot::shortcutCipher, "Shortcut: Ctrl three times = Cipher"},
    {MenuSlot::shortcutStyle, "Shortcut: Hold Ctrl + 1-8, release = One-shot style"},
    {MenuSlot::shortcutStop, "Shortcut: Ctrl while recording = Stop"},
};

}  // namespace

std::string toggleTitle(const StatusMenuState& state) {
  if (state.isRecording) {
    switch (state.mode.kind()) {
      case RecordingMode::Kind::dictation:
        return "Stop Recording";
      case RecordingMode::Kind::englishTranslation:
        return "Stop Translation";
      case RecordingMode::Kind::morseCipher:
        return "Stop Cipher Recording";
      case RecordingMode::Kind::styled:
        return "Stop Style Recording";
    }
  }
  if (state.isProcessing) return std::string(processingTitle(state.mode)) + "...";
  return "Start Dictation";
}

std::string statusToolTip(const StatusMenuState& state) {
  std::string tip = "Mirla";
  if (state.isRecording) {
    tip += kToolTipSeparator;
    tip += recordingLabel(state.mode);
  } else if (state.isProcessing) {
    tip += kToolTipSeparator;
    tip += processingTitle(state.mode);
  }
  return tip;
}

StatusMenuModel buildStatusMenu(const StatusMenuState& state) {
  StatusMenuModel model;
  for (std::size_t i = 0; i < kMenuSlotCount; ++i) model.entries[i].slot = static_cast<MenuSlot>(i);
  auto at = [&](MenuSlot slot) -> MenuEntry& { return model.entries[static_cast<std::size_t>(slot)]; };
  auto action = [&](MenuSlot slot, std::string title, MenuAction what, bool enabled, bool visible = true) {
    MenuEntry& entry = at(slot);
    entry.title = std::move(title);
    entry.action = what;
    entry.enabled = enabled;
    entry.visible = visible;
  };
  const bool idle = !state.isRecording && !state.isProcessing;
  const bool hasFinal = !state.lastFinalText.empty();

  action(MenuSlot::toggle, toggleTitle(state), MenuAction::toggleRecording, !state.isProcessing);
  action(MenuSlot::cancel, "Cancel Recording", MenuAction::cancelRecording, true, state.isRecording);
  action(MenuSlot::startTranslation, "Start English Translation", MenuAction::startEnglishTranslation, true, idle);
  action(MenuSlot::dashboard, "Open Mirla Dashboard", MenuAction::openDashboard, true);
  action(MenuSlot::copyLastText, "Copy Last Text", MenuAction::copyLastText, hasFinal);
  action(MenuSlot::showLastText, "Show Last Text", MenuAction::showLastText, hasFinal);
  action(MenuSlot::recordFeedback, "Record Last Result Feedback", MenuAction::recordLastResultFeedback,
         hasFinal && !state.lastRawText.empty());
  action(MenuSlot::shortcutDictate, "Shortcut: " + std::string(tapKeyName(state.tapKey)) + " = Dictate",
         MenuAction::none, false);
  for (const InfoRow& row : kInfoRows) action(row.slot, std::string(row.title), MenuAction::none, false);
  action(MenuSlot::quit, "Quit Mirla", MenuAction::quit, true);
  // One character assigned as a character: GCC 12 warns falsely (-Wrestrict) when the
  // inlined string assignment copies a literal here.
  at(MenuSlot::quit).keyEquivalent = 'q';
  for (MenuSlot slot : {MenuSlot::separator1, MenuSlot::separator2, MenuSlot::separator3, MenuSlot::separator4}) {
    at(slot).isSeparator = true;
    at(slot).enabled = false;
  }
  model.toolTip = statusToolTip(state);
  return model;
}

}  // namespace sorvane
