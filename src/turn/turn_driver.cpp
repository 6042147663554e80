#include "turn/turn_driver.h"

#include "core/clock.h"
#include "core/log.h"

namespace sorvane {

StandaloneTurnDriver::StandaloneTurnDriver(Dispatcher& dispatcher, TurnHud& hud) : dispatcher_(dispatcher), hud_(hud) {
  lastContext_.source = "none";
}

void StandaloneTurnDriver::changed() {
  if (onStateChanged) onStateChanged();
}

void StandaloneTurnDriver::toggleRecording(const RecordingMode& mode) {
  const int64_t now = dispatcher_.clock().wallMilliseconds();
  if (lastToggleMs_ && now - *lastToggleMs_ < kDebounce.count()) {
    appLog("hotkey ignored debounce");
    return;
  }
  lastToggleMs_ = now;
  if (state_.isProcessing) {
    appLog("hotkey ignored processing");
    return;
  }
  if (state_.isRecording) {
    stopRecording();
    return;
  }
  state_.mode = mode;
  state_.isRecording = true;
  hud_.showRecording(mode);
  appLog("recording shown mode=" + std::string(mode.metricValue()));
  changed();
}

void StandaloneTurnDriver::stopRecording() {
  if (!state_.isRecording) {
    appLog("stop ignored not recording");
    return;
  }
  appLog("stop requested");
  state_.isRecording = false;
  state_.isProcessing = true;
  hud_.showProcessing(state_.mode);
  changed();
  finish_.start(dispatcher_.mainQueue(), kProcessingTime, [this] {
    appLog("turn ended without text; no turn controller in this build");
    hud_.hideOverlay();
    state_.isProcessing = false;
    state_.mode = RecordingMode::dictation();
    changed();
  });
}

void StandaloneTurnDriver::cancelRecording() {
  if (!state_.isRecording) {
    appLog("cancel ignored not recording");
    return;
  }
  appLog("recording cancelled");
  state_.isRecording = false;
  state_.isProcessing = false;
  hud_.hideOverlay();
  state_.mode = RecordingMode::dictation();
  changed();
}

}  // namespace sorvane
