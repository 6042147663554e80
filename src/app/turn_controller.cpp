#include "app/turn_controller.h"

#include <utility>

#include "app/control_style_key_monitor.h"
#include "app/hot_key_manager.h"
#include "app/option_key_toggle_monitor.h"
#include "context/context_collector.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/unicode_text.h"
#include "core/uuid.h"
#include "postprocess/morse_cipher.h"
#include "postprocess/refine_profile.h"
#include "postprocess/text_normalizer.h"
#include "ui/hud_layout.h"

namespace sorvane {
namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

constexpr std::string_view kMorseProvider = "local-morse-cipher";

int64_t chars(std::string_view s) { return static_cast<int64_t>(text::graphemeCount(s)); }

// A one-argument callback that does nothing once the token's owner is gone.
template <typename Arg, typename F>
std::function<void(Arg)> weakly(const LivenessToken& token, F f) {
  return [weak = token.weak(), f = std::move(f)](Arg arg) mutable {
    if (weak.lock()) f(std::move(arg));
  };
}

}  // namespace

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

void TurnController::transcriptArrived(const std::string& turnID, const RecordingMode& mode, std::string raw) {
  if (turnID != sessionID_) {
    appLog("stale stop ignored");
    return;
  }
  mark("speechStopped");
  value("rawChars", chars(raw));
  value("asrProvider", c_.speech->provider());

  const std::string audioID = currentMetrics_ ? currentMetrics_->id() : makeUuid();
  std::optional<std::string> audioPath = c_.speech->saveLastAudio(audioID);
  value("audioPath", audioPath.value_or(""));

  std::optional<int64_t> flushedBytes;
  std::optional<int64_t> recordingMs;
  if (currentMetrics_) {
    flushedBytes = currentMetrics_->intValue("qwenCutoffFlushBytes");
    recordingMs = currentMetrics_->durationValue("recordingShown", "stopRequested");
  }
  const std::vector<std::string> terms = c_.store ? c_.store->dictionaryTermTexts() : std::vector<std::string>{};
  if (TextNormalizer::isLikelyEmptySpeechHallucination(raw, flushedBytes, recordingMs, terms)) {
    appLog("asr hallucination suppressed chars=" + std::to_string(chars(raw)) +
           " flushedBytes=" + std::to_string(flushedBytes.value_or(-1)) +
           " recordingMs=" + std::to_string(recordingMs.value_or(-1)));
    value("suppressedASRHallucination", true);
    value("suppressedRawChars", chars(raw));
    endQuietly("suppressed-asr-hallucination");
    return;
  }
  if (text::isBlank(raw)) {
    endQuietly("empty-transcript");
    return;
  }

  mark("refineStart");
  const InputContext context = currentContext_;
  auto done = weakly<TranscriptRefiner::Result>(alive_, 
      [this, turnID, raw, context, audioPath](TranscriptRefiner::Result result) {
        resultArrived(turnID, raw, context, audioPath, std::move(result));
      });
  switch (mode.kind()) {
    case RecordingMode::Kind::morseCipher: {
      const std::string normalized = TextNormalizer::normalizeInput(raw);
      value("refinePath", std::string(kMorseProvider));
      value("llmRoute", std::string(kMorseProvider));
      mark("llmRequestStart");
      std::string encoded = MorseCipher::encode(normalized);
      mark("llmRequestDone");
      done(TranscriptRefiner::Result{std::move(encoded), std::string(kMorseProvider),
                                     std::string(kDefaultRefineProfileID) + "-morse_cipher"});
      break;
    }
    case RecordingMode::Kind::englishTranslation:
      c_.refiner->translateToEnglish(raw, context, std::move(done));
      break;
    case RecordingMode::Kind::styled:
      c_.refiner->stylize(raw, *mode.stylePreset(), context, std::move(done));
      break;
    case RecordingMode::Kind::dictation:
      c_.refiner->refine(raw, context, std::move(done));
      break;
  }
}

void TurnController::resultArrived(const std::string& turnID, const std::string& raw, const InputContext& context,
                                   const std::optional<std::string>& audioPath, TranscriptRefiner::Result result) {
  if (turnID != sessionID_) {
    appLog("stale refine ignored");
    return;
  }
  mark("refineDone");
  value("provider", result.provider);
  value("refineProfile", result.profileID);
  c_.hud->hideOverlay();

  const std::string finalText = text::trim(result.text);
  if (finalText.empty()) {
    isProcessing_ = false;
    finishMetrics(currentMetrics_, "empty-final");
    currentMetrics_.reset();
    currentRecordingMode_ = RecordingMode::dictation();
    rebuildMenu();
    c_.hud->beep();
    return;
  }
  value("finalChars", chars(finalText));
  deliverFinal(turnID, finalText, raw, context, audioPath, result.provider, true);
}

void TurnController::deliverFinal(const std::string& turnID, const std::string& finalText, const std::string& raw,
                                  const InputContext& context, const std::optional<std::string>& audioPath,
                                  const std::string& provider, bool mayCollectAgain) {
  if (mayCollectAgain && context.collectionCutShort && !context.pasteTargetReason()) {
    appLog("paste target unknown; collecting context again");
    value("contextCollectedAgain", true);
    contextQueue_.post([source = c_.context, &main = dispatcher_.mainQueue(), weak = alive_.weak(), this, turnID,
                        finalText, raw, audioPath, provider] {
      InputContext again = source->collect();
      main.post([weak, this, turnID, finalText, raw, audioPath, provider, again = std::move(again)] {
        if (!weak.lock()) return;
        if (turnID != sessionID_) {
          appLog("stale refine ignored");
          return;
        }
        deliverFinal(turnID, finalText, raw, again, audioPath, provider, false);
      });
    });
    return;
  }
  lastFinalText_ = finalText;
  lastRawText_ = raw;
  lastContext_ = context;
  lastAudioPath_ = audioPath;

  const auto reason = context.pasteTargetReason();
  const std::string reasonText = reason ? std::string(*reason) : std::string("none");
  value("hasPasteTarget", reason.has_value());
  value("pasteTargetReason", reasonText);
  appLog("final text provider=" + provider + " chars=" + std::to_string(chars(finalText)));
  appLog(std::string("paste target=") + boolText(reason.has_value()) + " reason=" + reasonText +
         " app=" + context.appName + " scene=" + std::string(context.scene()) + " role=" + context.focusedRole +
         " settable=" + boolText(context.focusedValueSettable) +
         " webEditable=" + boolText(context.browserEditableFocused) +
         " fieldChars=" + std::to_string(chars(context.fullFieldContent())));

  const RecordingMode mode = currentRecordingMode_;
  std::shared_ptr<TurnMetrics> metrics = currentMetrics_;
  if (!reason) {
    appLog("no focused input; showing copy panel chars=" + std::to_string(chars(finalText)));
    deliverToCopyPanel(finalText, raw, context, audioPath, provider, mode, metrics);
    return;
  }
  mark("pasteStart");
  isDelivering_ = true;
  c_.inserter->paste(finalText, weakly<PasteOutcome>(alive_, [=, this](PasteOutcome outcome) {
    if (outcome == PasteOutcome::pasted) {
      if (metrics) metrics->mark("pasteDone");
      deliverPasted(finalText, raw, context, audioPath, provider, mode, metrics);
    } else {
      appLog("paste fell back; showing copy panel chars=" + std::to_string(chars(finalText)));
      deliverToCopyPanel(finalText, raw, context, audioPath, provider, mode, metrics);
    }
  }));
}

void TurnController::recordHistory(const std::string& status, const std::string& finalText, const std::string& raw,
                                   const InputContext& context, const std::optional<std::string>& audioPath,
                                   const std::string& provider, const RecordingMode& mode,
                                   const TurnMetrics& metrics) {
  if (!c_.store) return;
  c_.store->recordTurn(MirlaTurnRecord{metrics.id(), raw, finalText, context, std::string(mode.metricValue()),
                                       c_.speech->provider(), provider, status, audioPath},
                       metrics);
}

void TurnController::deliverPasted(const std::string& finalText, const std::string& raw, const InputContext& context,
                                   const std::optional<std::string>& audioPath, const std::string& provider,
                                   const RecordingMode& mode, const std::shared_ptr<TurnMetrics>& metrics) {
  if (metrics) recordHistory("pasted", finalText, raw, context, audioPath, provider, mode, *metrics);
  c_.hud->refreshDashboard();
  if (c_.followUp && metrics) c_.followUp->startObservation(metrics->id(), raw, finalText, context, audioPath, metrics);
  finishMetrics(metrics, "pasted");
  isDelivering_ = false;
  isProcessing_ = false;
  if (currentMetrics_ == metrics) currentMetrics_.reset();
  currentRecordingMode_ = RecordingMode::dictation();
  rebuildMenu();
}

void TurnController::deliverToCopyPanel(const std::string& finalText, const std::string& raw,
                                        const InputContext& context, const std::optional<std::string>& audioPath,
                                        const std::string& provider, const RecordingMode& mode,
                                        const std::shared_ptr<TurnMetrics>& metrics) {
  if (metrics) metrics->setValue("pasteFallback", "copy-panel");
  c_.hud->showCopyPanel(finalText);
  if (metrics) recordHistory("copy-panel", finalText, raw, context, audioPath, provider, mode, *metrics);
  c_.hud->refreshDashboard();
  if (c_.followUp && metrics && text::graphemeCount(text::trim(finalText)) >= kPassiveAuditMinChars) {
    c_.followUp->runPassiveAudit(metrics->id(), raw, finalText, context, audioPath, "copy-panel");
  }
  finishMetrics(metrics, "copy-panel");
  isDelivering_ = false;
  isProcessing_ = false;
  if (currentMetrics_ == metrics) currentMetrics_.reset();
  currentRecordingMode_ = RecordingMode::dictation();
  rebuildMenu();
}

void TurnController::endQuietly(std::string_view status) {
  c_.hud->hideOverlay();
  isProcessing_ = false;
  currentRecordingMode_ = RecordingMode::dictation();
  rebuildMenu();
  finishMetrics(currentMetrics_, status);
  currentMetrics_.reset();
  c_.hud->beep();
}

void TurnController::finishMetrics(const std::shared_ptr<TurnMetrics>& metrics, std::string_view status) {
  if (metrics) metrics->finish(status);
}

// --- mode switches and the key wiring ---

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
