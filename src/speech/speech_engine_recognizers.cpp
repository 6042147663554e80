// The recogniser half of the engine: starting the on-device task and the one cloud client
// of a turn, wiring their callbacks to the main queue, feeding the Qwen client through the
// delay queue (and the optional ffmpeg stage), finalising them after the stop, and
// choosing the turn's transcript.
#include "speech/speech_engine.h"

#include <cmath>
#include <utility>

#include "core/log.h"
#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {

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

void SpeechEngine::startOnDevice(uint64_t turn) {
  if (speechAuthorized_ && parts_.onDeviceRecognizer) {
    onDeviceTask_ = parts_.onDeviceRecognizer->start(
        kOnDeviceLocale, dispatcher_.mainQueue(), [this, weak = alive_.weak(), turn](OnDeviceRecognitionResult r) {
          if (weak.lock()) handleOnDeviceResult(turn, std::move(r));
        });
    if (!onDeviceTask_) appLog("apple speech unavailable");
  }
}

void SpeechEngine::startRecognizers(uint64_t turn, const std::optional<std::string>& dashscopeKey,
                                    const std::optional<std::string>& deepgramKey, const AudioInputFormat& format,
                                    bool voiceProcessing) {
  SerialQueue& main = dispatcher_.mainQueue();
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
}

void SpeechEngine::finalizeRecognizers(uint64_t turn, int64_t cutoffMs, std::function<void(std::string)> completion) {
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

}  // namespace sorvane
