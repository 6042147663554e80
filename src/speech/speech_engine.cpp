// The engine's turn on the main queue: start, the stop with its cutoff drain, cancel
// and teardown; the capture and recogniser halves live in speech_engine_capture.cpp and
// speech_engine_recognizers.cpp.
#include "speech/speech_engine.h"

#include <utility>

#include "core/clock.h"
#include "core/log.h"

namespace sorvane {

std::string audioEnhancementName(bool voiceProcessing, bool speechNormalizer) {
  std::string name;
  if (voiceProcessing) name += kVoiceProcessingPrefix;
  name += kEnhancementName;
  if (speechNormalizer) name += kSpeechNormSuffix;
  return name;
}

// ---------------------------------------------------------------- main queue

SpeechEngine::SpeechEngine(Dispatcher& dispatcher, Paths paths, SpeechEngineParts parts)
    : dispatcher_(dispatcher),
      paths_(std::move(paths)),
      config_(paths_.configFolder),
      parts_(std::move(parts)),
      archiveQueue_(dispatcher.queue(kAudioArchiveLabel)),
      archivedPCM_(std::make_shared<PcmBytes>()),
      qwenPCMDelay_(dispatcher) {
  qwenPCMDelay_.cancel();  // no Qwen turn yet: appends are dropped
}

SpeechEngine::~SpeechEngine() {
  if (parts_.audioInput) parts_.audioInput->stop();
  teardownTurn();
}

bool SpeechEngine::isCapturing() const { return phase_ == Phase::capturing || phase_ == Phase::draining; }

void SpeechEngine::mark(const std::string& name) {
  if (onMark) onMark(name);
}

void SpeechEngine::value(const std::string& key, Json v) {
  if (onValue) onValue(key, std::move(v));
}

void SpeechEngine::teardownTurn() {
  // The input first: after this no capture callback touches what follows.
  if (parts_.audioInput) parts_.audioInput->stop();
  onDeviceTask_.reset();
  if (qwen_) qwen_->cancel();
  qwen_.reset();
  if (qwenSpeechNormalizer_) qwenSpeechNormalizer_->cancel();
  qwenSpeechNormalizer_.reset();
  qwenPCMDelay_.cancel();
  if (deepgram_) deepgram_->cancel();
  deepgram_.reset();
  turn_.reset();
  qwenEnhancer_.reset();
  deepgramEnhancer_.reset();
}

void SpeechEngine::requestPermissions(std::function<void(bool)> completion) {
  const std::string source = config_.key(kAudioSourceFile).value_or("");
  const bool mic = parts_.audioInput && !parts_.audioInput->probe(source).has_value();
  const SpeechAuthorization status =
      parts_.onDeviceRecognizer ? parts_.onDeviceRecognizer->requestAuthorization() : SpeechAuthorization::restricted;
  dispatcher_.mainQueue().post(alive_.guard([this, mic, status, completion = std::move(completion)] {
    speechAuthorized_ = status == SpeechAuthorization::authorized;
    appLog(std::string("permissions mic=") + (mic ? "true" : "false") +
           " speech=" + std::to_string(static_cast<int>(status)));
    const bool cloudKey = config_.key(kDashScopeKeyFile).has_value() || config_.key(kDeepgramKeyFile).has_value();
    if (completion) completion(mic && (speechAuthorized_ || cloudKey));
  }));
}

std::optional<SpeechEngineError> SpeechEngine::start() {
  transcript_.clear();
  onDeviceTranscript_.clear();
  qwenTranscript_.clear();
  deepgramTranscript_.clear();
  provider_ = kProviderOnDevice;
  teardownTurn();
  ++turnGeneration_;
  const uint64_t turn = turnGeneration_;
  archiveQueue_.runSync([archive = archivedPCM_] { archive->clear(); });

  const bool voiceProcessingWanted = config_.isEnabled(kVoiceProcessingSwitch);
  const std::optional<std::string> dashscopeKey = config_.key(kDashScopeKeyFile);
  const std::optional<std::string> deepgramKey = dashscopeKey ? std::nullopt : config_.key(kDeepgramKeyFile);

  // With no recogniser at all nothing is opened.
  startOnDevice(turn);
  if (!dashscopeKey && !deepgramKey && !onDeviceTask_) {
    appLog(std::string("speech start failed ") + kRecognizerUnavailable);
    return SpeechEngineError{"Sorvane", 1, kRecognizerUnavailable};
  }
  if (!parts_.audioInput) {
    onDeviceTask_.reset();
    return SpeechEngineError{"Sorvane", 2, "no audio input"};
  }
  if (auto error = openCapture(turn)) return error;
  const AudioInputFormat format = parts_.audioInput->format();
  const bool voiceProcessing = prepareConditioning(format, voiceProcessingWanted);
  value("audioEnhancement", audioEnhancementName(voiceProcessing, false));
  startRecognizers(turn, dashscopeKey, deepgramKey, format, voiceProcessing);
  if (!qwen_ && !deepgram_ && !onDeviceTask_) {
    appLog(std::string("speech start failed ") + kRecognizerUnavailable);
    teardownTurn();
    provider_ = kProviderOnDevice;
    return SpeechEngineError{"Sorvane", 1, kRecognizerUnavailable};
  }
  phase_ = Phase::capturing;
  turn_->active.store(true, std::memory_order_release);
  appLog("speech started provider=" + provider_);
  return std::nullopt;
}

void SpeechEngine::stop(double tailCaptureDelaySeconds, std::function<void(std::string)> completion) {
  if (phase_ != Phase::capturing) {
    appLog("speech stop ignored: no turn is capturing");
    dispatcher_.mainQueue().post(alive_.guard([this, completion = std::move(completion)] {
      if (completion) completion(transcript_);
    }));
    return;
  }
  const uint64_t turn = turnGeneration_;
  const int64_t cutoffMs = dispatcher_.clock().wallMilliseconds();
  const int64_t flushCutoffMs = cutoffMs + kQwenCutoffSafetyMs;
  const int64_t tailMs = static_cast<int64_t>(std::max(tailCaptureDelaySeconds, 0.0) * 1000.0);
  mark("tailCaptureStart");
  value("tailCaptureTargetMs", tailMs);
  value("audioCutoffMs", cutoffMs);
  value("qwenCutoffSafetyMs", kQwenCutoffSafetyMs);
  value("qwenFlushCutoffMs", flushCutoffMs);
  appLog("speech stop cutoff tailCaptureMs=" + std::to_string(tailMs) + " cutoffMs=" + std::to_string(cutoffMs) +
         " flushCutoffMs=" + std::to_string(flushCutoffMs));
  mark("tailCaptureDone");
  if (qwen_) {
    phase_ = Phase::draining;
    qwenPCMDelay_.beginCutoff();
    mark("cutoffDrainStart");
    value("cutoffDrainTargetMs", kCutoffDrainMinMs);
    appLog("speech cutoff drain start targetMs=" + std::to_string(kCutoffDrainMinMs));
    const auto began = dispatcher_.clock().monotonicNow();
    dispatcher_.mainQueue().postAfter(
        Milliseconds(kCutoffDrainMinMs),
        alive_.guard([this, turn, flushCutoffMs, began, completion = std::move(completion)]() mutable {
          checkDrain(turn, flushCutoffMs, began, std::move(completion));
        }));
    return;
  }
  finishCapture(turn, flushCutoffMs, std::move(completion));
}

void SpeechEngine::checkDrain(uint64_t turn, int64_t flushCutoffMs, std::chrono::steady_clock::time_point began,
                              std::function<void(std::string)> completion) {
  if (!isCurrent(turn)) return;
  const int64_t waited =
      std::chrono::duration_cast<Milliseconds>(dispatcher_.clock().monotonicNow() - began).count();
  const bool reached = turn_ && turn_->lastCapturedEndMs.load(std::memory_order_acquire) >= flushCutoffMs;
  const bool inputGone = !parts_.audioInput || !parts_.audioInput->isRunning();
  if (!reached && !inputGone && waited < kCutoffDrainMaxMs) {
    dispatcher_.mainQueue().postAfter(
        Milliseconds(std::min(kCutoffDrainPollMs, kCutoffDrainMaxMs - waited)),
        alive_.guard([this, turn, flushCutoffMs, began, completion = std::move(completion)]() mutable {
          checkDrain(turn, flushCutoffMs, began, std::move(completion));
        }));
    return;
  }
  value("cutoffDrainMs", waited);
  if (!reached) {
    appLog("speech cutoff drain ended before the cutoff waitedMs=" + std::to_string(waited) +
           " lastCapturedEndMs=" + std::to_string(turn_ ? turn_->lastCapturedEndMs.load() : 0));
  }
  mark("cutoffDrainDone");
  finishCapture(turn, flushCutoffMs, std::move(completion));
}

void SpeechEngine::finishCapture(uint64_t turn, int64_t cutoffMs, std::function<void(std::string)> completion) {
  phase_ = Phase::finalising;
  mark("audioStopStart");
  if (parts_.audioInput) parts_.audioInput->stop();
  if (turn_) turn_->drainResampler();
  mark("audioStopDone");
  if (onDeviceTask_) onDeviceTask_->endAudio();
  finalizeRecognizers(turn, cutoffMs, std::move(completion));
}

void SpeechEngine::cancelCapture() {
  teardownTurn();
  ++turnGeneration_;  // late results of the abandoned turn are dropped
  phase_ = Phase::idle;
  onDeviceTranscript_.clear();
  qwenTranscript_.clear();
  deepgramTranscript_.clear();
  transcript_.clear();
  appLog("speech capture cancelled");
}

}  // namespace sorvane
