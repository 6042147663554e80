#include "speech/speech_engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "audio/wav_file.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"
#include "speech/linear16_conversion.h"
#include "speech/turn_resampler.h"

namespace sorvane {

std::string audioEnhancementName(bool voiceProcessing, bool speechNormalizer) {
  std::string name;
  if (voiceProcessing) name += kVoiceProcessingPrefix;
  name += kEnhancementName;
  if (speechNormalizer) name += kSpeechNormSuffix;
  return name;
}

TranscriptChoice chooseTranscript(const std::string& qwen, const std::string& deepgram, const std::string& onDevice,
                                  bool hadQwen, bool hadDeepgram) {
  const std::size_t a = text::graphemeCount(onDevice);
  const auto onDeviceOutweighs = [&](const std::string& cloud) {
    return !onDevice.empty() && a > 2 * text::graphemeCount(cloud);
  };
  if (!qwen.empty() && !onDeviceOutweighs(qwen)) return {qwen, std::string(kProviderQwen), std::nullopt};
  if (!deepgram.empty() && !onDeviceOutweighs(deepgram)) {
    return {deepgram, std::string(kProviderDeepgram), std::nullopt};
  }
  TranscriptChoice choice{onDevice, std::string(hadQwen || hadDeepgram ? kProviderOnDeviceFallback : kProviderOnDevice),
                          std::nullopt};
  if (hadQwen) {
    choice.logLine = "qwen empty; using apple fallback chars=" + std::to_string(a);
  } else if (hadDeepgram) {
    choice.logLine = "deepgram empty; using apple fallback chars=" + std::to_string(a);
  }
  return choice;
}

// ---------------------------------------------------------------- capture thread

struct SpeechEngine::CaptureTurn::Scratch {
  std::unique_ptr<TurnResampler> resampler;
  double resamplerDelayMs = 0;
  double sourceRate = 0;
  std::vector<float> processed;  // voice-processed copy of the interleaved buffer
  std::vector<float> mono;
  std::vector<float> resampled;
  PcmBytes pcm;
  PcmBytes enhanced;
  PcmBytes native;
  int64_t lastEndMs = 0;
  bool reportedConvertError = false;
};

SpeechEngine::CaptureTurn::CaptureTurn(SerialQueue& archiveQueue, std::shared_ptr<PcmBytes> archive,
                                       TimestampedPCMDelayQueue& delay, AudioEnhancer& qwenEnhancer,
                                       AudioEnhancer& deepgramEnhancer)
    : archiveQueue(archiveQueue),
      archive(std::move(archive)),
      delay(delay),
      qwenEnhancer(qwenEnhancer),
      deepgramEnhancer(deepgramEnhancer),
      scratch(std::make_unique<Scratch>()) {}

SpeechEngine::CaptureTurn::~CaptureTurn() = default;

namespace {

// The Qwen path of one stretch of 16 kHz mono: archive (unenhanced), enhancer, delay queue.
void feedQwenPath(SpeechEngine::CaptureTurn& turn, std::span<const float> mono16k, int64_t endMs) {
  auto& s = *turn.scratch;
  s.pcm.clear();
  appendLinear16(mono16k, s.pcm);
  if (s.pcm.empty()) return;
  turn.archiveQueue.post([archive = turn.archive, bytes = s.pcm] {
    archive->insert(archive->end(), bytes.begin(), bytes.end());
  });
  turn.qwenEnhancer.processLinear16(s.pcm, kQwenSampleRate, s.enhanced);
  turn.delay.append(PcmBytes(s.enhanced), endMs);
}

}  // namespace

void SpeechEngine::CaptureTurn::process(const CapturedAudio& captured) {
  if (!active.load(std::memory_order_acquire) || captured.frames == 0) return;
  auto& s = *scratch;
  CapturedAudio audio = captured;
  if (voiceProcessor) {
    s.processed.assign(captured.interleaved.begin(), captured.interleaved.end());
    voiceProcessor->process(s.processed);
    audio.interleaved = s.processed;
    // What comes out now was captured one processing block earlier.
    audio.firstSampleWallMs -=
        static_cast<double>(voiceProcessor->latencyFrames()) * 1000.0 / std::max(audio.sampleRate, 1.0);
  }
  if (onDeviceTask) onDeviceTask->append(audio);

  const int64_t endMs = audioEndMilliseconds(audio);
  averageChannels(audio, s.mono);
  if (s.resampler) {
    s.resampled.clear();
    if (auto error = s.resampler->process(s.mono, s.resampled)) {
      if (!s.reportedConvertError) appLog("audio convert error " + *error);
      s.reportedConvertError = true;
      // The buffer is lost to the 16 kHz path rather than archived at the wrong rate.
      s.resampled.clear();
    }
    // The filter's output trails its input by its delay.
    const int64_t qwenEnd = endMs - static_cast<int64_t>(std::lround(s.resamplerDelayMs));
    feedQwenPath(*this, s.resampled, qwenEnd);
  } else {
    feedQwenPath(*this, s.mono, endMs);
  }
  s.lastEndMs = endMs;

  if (deepgram) {
    s.native.clear();
    appendLinear16(s.mono, s.native);
    const int rate = static_cast<int>(std::lround(audio.sampleRate));
    deepgramEnhancer.processLinear16(s.native, rate, s.enhanced);
    deepgram->send(std::string(s.enhanced.begin(), s.enhanced.end()));
  }
  if (publishLevel) {
    if (auto level = inputLevel(audio)) publishLevel(*level);
  }
  lastCapturedEndMs.store(endMs, std::memory_order_release);
}

void SpeechEngine::CaptureTurn::drainResampler() {
  auto& s = *scratch;
  if (!s.resampler || !active.load()) return;
  s.resampled.clear();
  if (s.resampler->drain(s.resampled)) return;
  if (!s.resampled.empty()) feedQwenPath(*this, s.resampled, s.lastEndMs);
}

void SpeechEngine::CaptureTurn::prepareForBenchmark(CaptureTurn& turn, double sourceRate) {
  turn.scratch->resampler = std::make_unique<TurnResampler>(sourceRate, kQwenSampleRate);
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

void SpeechEngine::wireRecognizer(StreamingRecognizer& client, bool isQwen) {
  const uint64_t turn = turnGeneration_;
  auto weak = alive_.weak();
  SerialQueue& main = dispatcher_.mainQueue();
  client.onTranscript = [this, weak, turn, isQwen, &main](const std::string& text, bool isFinal) {
    main.post([this, weak, turn, isQwen, text, isFinal] {
      if (weak.lock() && turn == turnGeneration_) handleTranscript(isQwen, text, isFinal);
    });
  };
  client.onMark = [this, weak, &main](std::string_view name) {
    main.post([this, weak, name = std::string(name)] {
      if (weak.lock()) mark(name);
    });
  };
  client.onValue = [this, weak, &main](std::string_view key, const Json& v) {
    main.post([this, weak, key = std::string(key), v]() mutable {
      if (weak.lock()) value(key, std::move(v));
    });
  };
}

void SpeechEngine::handleTranscript(bool isQwen, const std::string& text, bool isFinal) {
  const std::string normalized = TextNormalizer::normalizeInput(text);
  if (!normalized.empty()) {
    (isQwen ? qwenTranscript_ : deepgramTranscript_) = normalized;
    transcript_ = normalized;
  }
  if (isFinal) {
    appLog(std::string(isQwen ? "qwen" : "deepgram") +
           " final chars=" + std::to_string(text::graphemeCount(normalized)));
  }
}

void SpeechEngine::handleOnDeviceResult(uint64_t turn, OnDeviceRecognitionResult result) {
  if (turn != turnGeneration_) return;
  if (!result.text.empty()) {
    const std::string normalized = TextNormalizer::normalizeInput(result.text);
    onDeviceTranscript_ = normalized;
    if (!deepgram_) transcript_ = normalized;
  }
  if (result.error) appLog("apple speech callback error " + *result.error);
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
  if (speechAuthorized_ && parts_.onDeviceRecognizer) {
    onDeviceTask_ = parts_.onDeviceRecognizer->start(
        kOnDeviceLocale, dispatcher_.mainQueue(), [this, weak = alive_.weak(), turn](OnDeviceRecognitionResult r) {
          if (weak.lock()) handleOnDeviceResult(turn, std::move(r));
        });
    if (!onDeviceTask_) appLog("apple speech unavailable");
  }
  if (!dashscopeKey && !deepgramKey && !onDeviceTask_) {
    appLog(std::string("speech start failed ") + kRecognizerUnavailable);
    return SpeechEngineError{"Sorvane", 1, kRecognizerUnavailable};
  }
  if (!parts_.audioInput) {
    onDeviceTask_.reset();
    return SpeechEngineError{"Sorvane", 2, "no audio input"};
  }

  turn_ = std::make_shared<CaptureTurn>(archiveQueue_, archivedPCM_, qwenPCMDelay_, qwenEnhancer_, deepgramEnhancer_);
  std::weak_ptr<CaptureTurn> weakTurn = turn_;
  SerialQueue& main = dispatcher_.mainQueue();
  turn_->publishLevel = [this, weak = alive_.weak(), &main](double level) {
    main.post([this, weak, level] {
      if (weak.lock() && onLevel) onLevel(level);
    });
  };
  turn_->onDeviceTask = onDeviceTask_.get();
  CaptureTurn* capture = turn_.get();
  const std::string source = config_.key(kAudioSourceFile).value_or("");
  auto inputError = parts_.audioInput->start(
      source, [capture](const CapturedAudio& audio) { capture->process(audio); },
      [this, weak = alive_.weak(), turn, &main](const AudioInputError& error) {
        main.post([this, weak, turn, error] {
          if (!weak.lock() || turn != turnGeneration_) return;
          appLog("audio input failed kind=" + std::string(audioInputErrorKindName(error.kind)) + " " +
                 error.description);
          value("audioInputError", std::string(audioInputErrorKindName(error.kind)));
          if (onCaptureError) onCaptureError(error.description);
        });
      });
  if (inputError) {
    appLog("speech start failed " + inputError->description);
    teardownTurn();
    return SpeechEngineError{"Sorvane", 2, inputError->description};
  }
  const AudioInputFormat format = parts_.audioInput->format();
  auto& scratch = *turn_->scratch;
  scratch.sourceRate = format.sampleRate;
  scratch.resampler = std::make_unique<TurnResampler>(format.sampleRate, kQwenSampleRate);
  if (scratch.resampler->isPassThrough()) {
    scratch.resampler.reset();
  } else if (scratch.resampler->creationError()) {
    appLog("audio convert error " + *scratch.resampler->creationError());
    scratch.resampler.reset();
  }
  scratch.processed.reserve(kCaptureBufferFrames * static_cast<std::size_t>(std::max(format.channels, 1)));

  bool voiceProcessing = false;
  if (voiceProcessingWanted) {
    std::string error = "voice processing unavailable";
    if (parts_.makeVoiceProcessor) {
      turn_->voiceProcessor =
          parts_.makeVoiceProcessor(static_cast<int>(std::lround(format.sampleRate)), format.channels, error);
    }
    voiceProcessing = turn_->voiceProcessor != nullptr;
    value("voiceProcessingIO", voiceProcessing);
    appLog(voiceProcessing ? "voice processing io enabled" : "voice processing io unavailable " + error);
  } else {
    value("voiceProcessingIO", false);
    value("voiceProcessingIODisabledReason", "live-stream-safety");
  }
  value("audioEnhancement", audioEnhancementName(voiceProcessing, false));

  if (dashscopeKey && parts_.makeRecognizer) {
    qwen_ = parts_.makeRecognizer(RecognizerKind::qwen, *dashscopeKey, kQwenSampleRate);
  }
  if (dashscopeKey && qwen_) {
    wireRecognizer(*qwen_, true);
    RecognitionHints hints = parts_.dictionaryHints ? parts_.dictionaryHints() : RecognitionHints{};
    hints.includeBuiltInHints = config_.isEnabled(kQwenCorpusHintSwitch);
    qwen_->start(std::move(hints));
    std::weak_ptr<StreamingRecognizer> weakQwen = qwen_;
    // Sends go through the main queue so that a client is only ever used and dropped there.
    auto sendToQwen = [this, weak = alive_.weak(), turn, &main](PcmBytes bytes) {
      main.post([this, weak, turn, bytes = std::move(bytes)]() mutable {
        if (weak.lock() && turn == turnGeneration_ && qwen_) qwen_->send(std::string(bytes.begin(), bytes.end()));
      });
    };
    TimestampedPCMDelayQueue::Sink sink = sendToQwen;
    if (config_.isEnabled(kFfmpegSpeechNormSwitch)) {
      auto normalizer = parts_.makeSpeechNormalizer ? parts_.makeSpeechNormalizer() : nullptr;
      if (normalizer && normalizer->start(kQwenSampleRate, sendToQwen)) {
        qwenSpeechNormalizer_ = std::move(normalizer);
        value("ffmpegSpeechNormalizer", true);
        value("audioEnhancement", audioEnhancementName(voiceProcessing, true));
        SpeechNormalizerStage* stage = qwenSpeechNormalizer_.get();
        sink = [this, weak = alive_.weak(), turn, stage, &main](PcmBytes bytes) {
          main.post([this, weak, turn, stage, bytes = std::move(bytes)]() mutable {
            if (weak.lock() && turn == turnGeneration_ && qwenSpeechNormalizer_.get() == stage) {
              stage->send(std::move(bytes));
            }
          });
        };
      } else {
        value("ffmpegSpeechNormalizer", false);
      }
    } else {
      value("ffmpegSpeechNormalizer", false);
      value("ffmpegSpeechNormalizerDisabledReason", "live-stream-safety");
    }
    qwenPCMDelay_.reset(kQwenPCMDelayMs, kQwenSampleRate, std::move(sink));
    value("qwenPCMDelayMs", kQwenPCMDelayMs);
    provider_ = kProviderQwen;
    appLog("speech provider=qwen3-asr-flash-realtime sampleRate=16000");
  } else if (deepgramKey && parts_.makeRecognizer) {
    const int rate = static_cast<int>(std::lround(format.sampleRate));
    deepgram_ = parts_.makeRecognizer(RecognizerKind::deepgram, *deepgramKey, rate);
    if (deepgram_) {
      wireRecognizer(*deepgram_, false);
      deepgram_->start(RecognitionHints{});
      turn_->deepgram = deepgram_;
      provider_ = kProviderDeepgram;
      appLog("speech provider=deepgram-streaming sampleRate=" + std::to_string(rate));
    }
  }
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

  if (qwen_) {
    mark("asrFinalizeStart");
    mark("qwenCutoffFlushStart");
    qwenPCMDelay_.stopAndFlush(cutoffMs, [this, turn, weak = alive_.weak(), completion = std::move(completion)](
                                             TimestampedPCMDelayQueue::FlushStats stats) mutable {
      if (!weak.lock() || !isCurrent(turn)) return;
      mark("qwenCutoffFlushDone");
      value("qwenCutoffFlushFullBuffers", stats.fullBuffers);
      value("qwenCutoffFlushTrimmedBuffers", stats.trimmedBuffers);
      value("qwenCutoffFlushDroppedBuffers", stats.droppedBuffers);
      value("qwenCutoffFlushBytes", stats.flushedBytes);
      // The flushed chunks were posted to the main queue ahead of this; they reach the
      // next stage before it is finished.
      dispatcher_.mainQueue().post(alive_.guard([this, turn, completion = std::move(completion)]() mutable {
        if (!isCurrent(turn)) return;
        if (!qwenSpeechNormalizer_) {
          finishQwen(turn, std::move(completion));
          return;
        }
        mark("ffmpegSpeechNormalizerFinishStart");
        qwenSpeechNormalizer_->finish(alive_.guard([this, turn, completion = std::move(completion)]() mutable {
          if (!isCurrent(turn)) return;
          mark("ffmpegSpeechNormalizerFinishDone");
          finishQwen(turn, std::move(completion));
        }));
      }));
    });
    return;
  }
  if (deepgram_) {
    mark("asrFinalizeStart");
    deepgram_->finish([this, weak = alive_.weak(), turn, completion = std::move(completion)](std::string text) {
      if (!weak.lock() || !isCurrent(turn)) return;
      if (!text::trim(text).empty()) deepgramTranscript_ = TextNormalizer::normalizeInput(text);
      mark("asrFinalizeDone");
      finishStop(turn, completion);
    });
    return;
  }
  mark("appleFinalizeStart");
  dispatcher_.mainQueue().postAfter(Milliseconds(kOnDeviceFinalizeWaitMs),
                                    alive_.guard([this, turn, completion = std::move(completion)] {
                                      if (!isCurrent(turn)) return;
                                      mark("appleFinalizeDone");
                                      finishStop(turn, completion);
                                    }));
}

void SpeechEngine::finishQwen(uint64_t turn, std::function<void(std::string)> completion) {
  if (!qwen_) return;
  qwen_->finish([this, weak = alive_.weak(), turn, completion = std::move(completion)](std::string text) {
    if (!weak.lock() || !isCurrent(turn)) return;
    if (!text::trim(text).empty()) qwenTranscript_ = TextNormalizer::normalizeInput(text);
    mark("asrFinalizeDone");
    finishStop(turn, completion);
  });
}

void SpeechEngine::finishStop(uint64_t turn, const std::function<void(std::string)>& completion) {
  if (!isCurrent(turn)) return;
  const TranscriptChoice choice =
      chooseTranscript(TextNormalizer::normalizeInput(qwenTranscript_), TextNormalizer::normalizeInput(deepgramTranscript_),
                       TextNormalizer::normalizeInput(onDeviceTranscript_), qwen_ != nullptr, deepgram_ != nullptr);
  provider_ = choice.provider;
  if (choice.logLine) appLog(*choice.logLine);
  transcript_ = choice.text;
  teardownTurn();
  phase_ = Phase::idle;
  appLog("speech stopped provider=" + provider_ + " chars=" + std::to_string(text::graphemeCount(transcript_)));
  if (completion) completion(transcript_);
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

namespace {

// Creates `folder` and its missing parents; the archive folder itself is private.
std::optional<std::string> ensurePrivateFolder(const std::string& folder) {
  for (std::size_t i = 1; i <= folder.size(); ++i) {
    if (i != folder.size() && folder[i] != '/') continue;
    const std::string part = folder.substr(0, i);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return part + ": " + std::strerror(errno);
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return folder + ": not a folder";
  if ((info.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) {
    return folder + ": " + std::strerror(errno);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> SpeechEngine::saveLastAudio(const std::string& turnID) {
  PcmBytes copy;
  archiveQueue_.runSync([&copy, archive = archivedPCM_] { copy = *archive; });
  if (copy.empty()) return std::nullopt;
  if (turnID.empty() || turnID.find('/') != std::string::npos || turnID == "." || turnID == "..") {
    appLog("audio archive failed invalid turn id");
    return std::nullopt;
  }
  if (auto error = ensurePrivateFolder(paths_.audioFolder)) {
    appLog("audio archive failed " + *error);
    return std::nullopt;
  }
  const std::string path = paths_.audioFolder + "/" + turnID + ".wav";
  if (auto error = writeWAV(kArchiveSampleRate, copy, path)) {
    appLog("audio archive failed " + error->description);
    return std::nullopt;
  }
  appLog("audio archived path=" + path + " bytes=" + std::to_string(copy.size()));
  return path;
}

}  // namespace sorvane
