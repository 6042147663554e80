// The turn controller's key handlers: the tap key's double and triple taps, the chords, the
// left-Control taps and the style palette, and their wiring to the monitors.
#include "turn/turn_controller.h"

#include <utility>

#include "core/log.h"
#include "input/control_style_key_monitor.h"
#include "input/hot_key_manager.h"
#include "input/option_key_toggle_monitor.h"
#include "turn/hud_layout.h"
#include "turn/turn_controller_detail.h"

namespace sorvane {

using namespace turn_detail;

void TurnController::handleOptionDoubleTap() {
  if (isProcessing_) {
    appLog("option double tap ignored processing");
  } else if (!isRecording_) {
    toggleRecording(RecordingMode::englishTranslation());
  } else {
    currentRecordingMode_ = RecordingMode::englishTranslation();
    value("recordingMode", "english_translation");
    mark("translationModeSelected");
    c_.hud->updateRecordingMode(currentRecordingMode_);
    rebuildMenu();
    appLog("recording mode switched to english translation");
  }
}

void TurnController::handleOptionTripleTap() {
  if (isProcessing_) {
    appLog("option triple tap ignored processing");
  } else if (!isRecording_) {
    toggleRecording(RecordingMode::morseCipher());
  } else {
    currentRecordingMode_ = RecordingMode::morseCipher();
    value("recordingMode", "morse_cipher");
    mark("cipherModeSelected");
    c_.hud->updateRecordingMode(currentRecordingMode_);
    rebuildMenu();
    appLog("recording mode switched to morse cipher");
  }
}

void TurnController::handleHotKey() {
  appLog("hotkey pressed");
  toggleRecording(RecordingMode::dictation());
}

void TurnController::handleControlSingleTap() {
  if (isProcessing_) {
    appLog("left control single tap ignored processing");
  } else if (isRecording_) {
    appLog("left control single tap stops recording");
    stopRecording();
  } else {
    appLog("left control single tap no-op");
  }
}

void TurnController::handleControlDoubleTap() {
  appLog("left control double tap english translation");
  handleOptionDoubleTap();
}

void TurnController::handleControlTripleTap() {
  appLog("left control triple tap morse cipher");
  handleOptionTripleTap();
}

void TurnController::showModePalette() {
  if (isRecording_ || isProcessing_) return;
  currentTargetScreen_ = c_.context->screenContainingMouse();
  c_.hud->showModePalette(currentTargetScreen_);
  appLog("style mode palette shown");
}

void TurnController::hideModePalette() { c_.hud->hideModePalette(); }

void TurnController::previewStyleDigit(std::optional<int> digit) {
  c_.hud->highlightPreset(digit ? VoiceStylePreset::fromDigit(*digit) : std::nullopt);
}

void TurnController::commitStyleDigit(int digit) {
  if (isRecording_ || isProcessing_) {
    appLog(std::string("style digit ignored recording=") + boolText(isRecording_) +
           " processing=" + boolText(isProcessing_));
    return;
  }
  const auto preset = VoiceStylePreset::fromDigit(digit);
  if (!preset) {
    appLog("style digit ignored unknown=" + std::to_string(digit));
    return;
  }
  c_.hud->hideModePalette();
  const RecordingMode mode = RecordingMode::styled(*preset);
  currentRecordingMode_ = mode;
  currentMetrics_ = std::make_shared<TurnMetrics>(dispatcher_.clock(), metricsFolder_);
  mark("hotkey");
  mark("styleModeSelected");
  value("recordingMode", std::string(preset->key()));
  value("stylePreset", std::string(preset->key()));
  appLog("style mode selected digit=" + std::to_string(digit) + " preset=" + std::string(preset->key()));
  startRecording(mode);
}

void wireTurnInputs(TurnController& controller, OptionKeyToggleMonitor& option, ControlStyleKeyMonitor& control,
                    HotKeyManager* hotKeys) {
  TurnController* c = &controller;
  if (hotKeys) hotKeys->onHotKey = [c] { c->handleHotKey(); };
  option.onSingleTap = [c] { c->toggleRecording(RecordingMode::dictation()); };
  option.onDoubleTap = [c] { c->handleOptionDoubleTap(); };
  option.onTripleTap = [c] { c->handleOptionTripleTap(); };
  control.shouldHandle = [c] { return c->shouldHandleControl(); };
  control.onSingleTap = [c] { c->handleControlSingleTap(); };
  control.onDoubleTap = [c] { c->handleControlDoubleTap(); };
  control.onTripleTap = [c] { c->handleControlTripleTap(); };
  control.onModePaletteShow = [c] { c->showModePalette(); };
  control.onModePaletteHide = [c] { c->hideModePalette(); };
  control.onStyleDigitPreview = [c](std::optional<int> digit) { c->previewStyleDigit(digit); };
  control.onStyleDigit = [c](int digit) { c->commitStyleDigit(digit); };
}

}  // namespace sorvane
