// The tray menu and its tool tip as a pure function of the turn state.
//
// The turn controller keeps a `StatusMenuState` (recording and processing flags, the
// turn's mode, the last delivered texts) and asks `buildStatusMenu` for the entries after
// every change; the tray adapter (app/desktop_app) applies them to its one QMenu in
// place. The menu has a fixed set of slots (`MenuSlot`), so an entry hidden in one state
// keeps its slot and the menu never needs rebuilding; this matters because a rebuild
// triggered by a menu action runs inside that action's own slot. Texts are the menu's
// own English titles and name the Linux keys. Pure value code, any queue.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "input/tap_key.h"
#include "postprocess/recording_mode.h"

namespace sorvane {

// What the menu reads from the controller; it writes nothing back.
struct StatusMenuState {
  bool isRecording = false;
  bool isProcessing = false;
  RecordingMode mode = RecordingMode::dictation();
  std::string lastFinalText;
  std::string lastRawText;
  TapKey tapKey = kDefaultTapKey;  // named by the dictation shortcut's row
};

enum class MenuAction {
  none,  // information only; shown disabled
  toggleRecording,
  cancelRecording,
  startEnglishTranslation,
  openDashboard,
  copyLastText,
  showLastText,
  recordLastResultFeedback,
  quit,
};

// Every slot of the menu, in menu order, separators included.
enum class MenuSlot {
  toggle,
  cancel,
  startTranslation,
  separator1,
  dashboard,
  separator2,
  copyLastText,
  showLastText,
  recordFeedback,
  separator3,
  asrInfo,
  shortcutDictate,
  shortcutTranslate,
  shortcutCipher,
  shortcutStyle,
  shortcutStop,
  separator4,
  quit,
};
inline constexpr std::size_t kMenuSlotCount = static_cast<std::size_t>(MenuSlot::quit) + 1;

struct MenuEntry {
  MenuSlot slot = MenuSlot::toggle;
  bool isSeparator = false;
  std::string title;
  MenuAction action = MenuAction::none;
  bool visible = true;
  bool enabled = true;
  std::string keyEquivalent;  // "q" for quit, else empty
};

struct StatusMenuModel {
  std::array<MenuEntry, kMenuSlotCount> entries;
  std::string toolTip;

  const MenuEntry& entry(MenuSlot slot) const { return entries[static_cast<std::size_t>(slot)]; }
};

inline constexpr std::string_view kToolTipSeparator = " \u00B7 ";
inline constexpr std::string_view kManualFeedbackNote = "用户从菜单手动记录了上一条结果，等待后续复盘。";
inline constexpr std::string_view kManualFeedbackNoticeTitle = "已记录到本机反馈";
inline constexpr std::string_view kManualFeedbackNoticeMessage = "这条样本会出现在 Mirla 看板的反馈页。";

// Title of the first entry: "Stop Recording", "Translating...", "Start Dictation", ...
std::string toggleTitle(const StatusMenuState& state);
// "Mirla", or "Mirla · Recording", "Mirla · 暴躁开喷", "Mirla · Processing", ...
std::string statusToolTip(const StatusMenuState& state);
StatusMenuModel buildStatusMenu(const StatusMenuState& state);

}  // namespace sorvane
