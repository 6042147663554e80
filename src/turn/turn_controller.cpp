// The turn controller: construction, start (capsule, capture, context) and stop or cancel.
#include "turn/turn_controller.h"

#include <utility>

#include "context/context_collector.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/uuid.h"
#include "turn/hud_layout.h"
#include "turn/turn_controller_detail.h"

namespace sorvane {

using namespace turn_detail;

InputContext emptyTurnContext() {
  InputContext context;
  context.source = "none";
  return context;
}

TurnController::TurnController(Dispatcher& dispatcher, std::string metricsFolder, TurnCollaborators collaborators)
    : dispatcher_(dispatcher),
      metricsFolder_(std::move(metricsFolder)),
      c_(std::move(collaborators)),
      contextQueue_(dispatcher.queue(kContextQueueLabel)),
      sessionID_(makeUuid()),
      currentContext_(emptyTurnContext()),
      lastContext_(emptyTurnContext()) {}

TurnController::~TurnController() = default;

std::chrono::steady_clock::time_point TurnController::now() const { return dispatcher_.clock().monotonicNow(); }

void TurnController::mark(std::string_view name) {
  if (currentMetrics_) currentMetrics_->mark(name);
}

void TurnController::value(std::string_view key, Json v) {
  if (currentMetrics_) currentMetrics_->setValue(key, std::move(v));
}

void TurnController::reportMark(std::string name) {
  if (dispatcher_.mainQueue().isCurrent()) return mark(name);
  dispatcher_.mainQueue().post(alive_.guard([this, name = std::move(name)] { mark(name); }));
}

void TurnController::reportValue(std::string key, Json v) {
  if (dispatcher_.mainQueue().isCurrent()) return value(key, std::move(v));
  dispatcher_.mainQueue().post(alive_.guard([this, key = std::move(key), v = std::move(v)] { value(key, v); }));
}

StatusMenuState TurnController::menuState() const {
  return StatusMenuState{isRecording_, isProcessing_, currentRecordingMode_, lastFinalText_, lastRawText_};
}

void TurnController::rebuildMenu() { c_.hud->rebuildStatusMenu(menuState()); }

void TurnController::placeOverlay() {
  c_.hud->placeOverlay(capsuleFrame(visibleFrameOr(currentTargetScreen_, c_.hud->mainScreen())));
}

// --- toggle, start, stop, cancel ---

void TurnController::toggleRecording(const RecordingMode& mode) {
  const auto at = now();
  if (lastToggleAt_ && at - *lastToggleAt_ < kToggleDebounce) {
    appLog("hotkey ignored debounce");
    return;
  }
  lastToggleAt_ = at;
  if (isProcessing_) {
    appLog("hotkey ignored processing");
  } else if (!isRecording_) {
    currentRecordingMode_ = mode;
    currentMetrics_ = std::make_shared<TurnMetrics>(dispatcher_.clock(), metricsFolder_);
    mark("hotkey");
    value("recordingMode", std::string(mode.metricValue()));
    startRecording(mode);
  } else {
    stopRecording();
  }
}

void TurnController::startRecording(const RecordingMode& mode) {
  appLog(std::string("start requested ready=") + boolText(isReady_) + " mode=" + std::string(mode.metricValue()));
  mark("startRequested");
  if (isRecording_ || isProcessing_) {
    appLog(std::string("start ignored recording=") + boolText(isRecording_) + " processing=" + boolText(isProcessing_));
    return;
  }
  if (!isReady_) {
    c_.speech->requestPermissions(weakly<bool>(alive_, [this, mode](bool granted) {
      isReady_ = granted;
      if (granted) {
        startRecording(mode);
      } else {
        c_.hud->beep();
      }
    }));
    return;
  }
  // A new turn ends the observation of the previous one.
  if (c_.followUp) c_.followUp->cancelObservation();
  sessionID_ = makeUuid();
  currentContext_ = emptyTurnContext();

  currentTargetScreen_ = c_.context->screenContainingMouse();
  c_.hud->hideBadge();
  placeOverlay();
  if (currentTargetScreen_) {
    value("hudScreen", frameText(currentTargetScreen_));
    value("hudScreenInitial", frameText(currentTargetScreen_));
  }
  c_.hud->showRecording(mode);
  mark("recordingShown");
  appLog("recording shown mode=" + std::string(mode.metricValue()));

  if (auto error = c_.speech->start()) {
    appLog("start error " + *error);
    c_.hud->hideOverlay();
    c_.hud->hideBadge();
    currentRecordingMode_ = RecordingMode::dictation();
    rebuildMenu();
    c_.hud->beep();
    return;
  }
  mark("speechStarted");
  isRecording_ = true;
  rebuildMenu();
  collectContextAsync(sessionID_);
}

void TurnController::collectContextAsync(const std::string& turnID) {
  mark("contextCollectStart");
  contextQueue_.post([source = c_.context, &main = dispatcher_.mainQueue(), weak = alive_.weak(), this, turnID] {
    InputContext context = source->collect();
    std::optional<Rect> screen = source->targetScreenForFrontmostWindow();
    main.post([weak, this, turnID, context = std::move(context), screen]() mutable {
      if (weak.lock()) contextArrived(turnID, std::move(context), screen);
    });
  });
}

void TurnController::contextArrived(const std::string& turnID, InputContext context, std::optional<Rect> screen) {
  if (turnID != sessionID_) return;
  currentContext_ = std::move(context);
  currentTargetScreen_ = screen;
  placeOverlay();
  const InputContext& c = currentContext_;
  mark("contextCollected");
  value("contextApp", c.appName);
  value("contextScene", std::string(c.scene()));
  value("contextChars", chars(c.selectedText) + chars(c.textBeforeCursor) + chars(c.textAfterCursor) +
                            chars(c.visibleText) + chars(c.windowTitle) + chars(c.browserURL) +
                            chars(c.browserTitle));
  value("visibleContextChars", chars(c.visibleText));
  const auto reason = c.pasteTargetReason();
  value("pasteTargetReason", reason ? std::string(*reason) : std::string("none"));
  value("browserEditableFocused", c.browserEditableFocused);
  if (c.focusedFrame) value("focusedFrame", frameText(c.focusedFrame));
  if (c.caretFrame) value("caretFrame", frameText(c.caretFrame));
  if (screen) value("hudScreen", frameText(screen));
  if (isRecording_) {
    if (auto anchor = c_.hud->showBadge(c, screen)) value("inputBadgeAnchor", *anchor);
  }
}

void TurnController::stopRecording() {
  if (!isRecording_) {
    appLog("stop ignored not recording");
    return;
  }
  appLog("stop requested");
  mark("stopRequested");
  value("tailCaptureMs", 0);
  isRecording_ = false;
  isProcessing_ = true;
  rebuildMenu();
  const std::string turnID = sessionID_;
  const RecordingMode mode = currentRecordingMode_;
  value("recordingMode", std::string(mode.metricValue()));
  mark("processingShown");
  placeOverlay();
  c_.hud->showProcessing(mode);
  c_.hud->hideBadge();
  c_.speech->stop(weakly<std::string>(alive_, 
      [this, turnID, mode](std::string raw) { transcriptArrived(turnID, mode, std::move(raw)); }));
}

void TurnController::captureFailed(std::string description) {
  if (!isRecording_) {
    appLog("capture failed while not recording; ignored " + description);
    return;
  }
  // The audio taken in so far is still in the engine; stopping now hands it to the
  // recogniser instead of leaving the capsule listening to a dead source.
  appLog("capture failed while recording; stopping " + description);
  value("captureError", std::move(description));
  stopRecording();
}

void TurnController::cancelRecording() {
  if (isDelivering_) {
    appLog("cancel ignored delivering");
    return;
  }
  if (!isRecording_ && !isProcessing_) {
    appLog("cancel ignored not recording");
    return;
  }
  appLog("recording cancelled");
  isRecording_ = false;
  isProcessing_ = false;
  sessionID_ = makeUuid();  // every late callback of the cancelled turn is now stale
  c_.speech->cancelCapture();
  c_.hud->hideOverlay();
  c_.hud->hideBadge();
  currentRecordingMode_ = RecordingMode::dictation();
  finishMetrics(currentMetrics_, "cancelled");
  currentMetrics_.reset();
  rebuildMenu();
}

void TurnController::prepareForQuit() {
  if (isRecording_ || (isProcessing_ && !isDelivering_)) cancelRecording();
  if (c_.followUp) c_.followUp->cancelObservation();
  // A paste still waiting reports a fallback and is delivered to the copy panel records.
  if (c_.inserter->hasPendingRestore()) c_.inserter->finishPendingRestore();
}

// --- transcript and result ---

}  // namespace sorvane
