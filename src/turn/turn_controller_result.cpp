// The turn controller after stop: the transcript screened and archived, the mode's
// pipeline, delivery (paste or copy panel), history and the metrics line.
#include "turn/turn_controller.h"

#include <utility>

#include "context/context_collector.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/uuid.h"
#include "postprocess/morse_cipher.h"
#include "postprocess/refine_profile.h"
#include "postprocess/text_normalizer.h"
#include "turn/hud_layout.h"
#include "turn/turn_controller_detail.h"

namespace sorvane {

using namespace turn_detail;

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
      InputContext again = source->collectAgain();
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

}  // namespace sorvane
