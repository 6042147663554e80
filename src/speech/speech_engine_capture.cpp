// The capture half of the engine: one turn's audio from the input through conversion,
// voice processing, resampling and enhancement to the Qwen delay queue and the Deepgram
// client, the 16 kHz archive, the opening of the input at start, and the archive's WAV.
#include "speech/speech_engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "audio/wav_file.h"
#include "core/log.h"
#include "speech/linear16_conversion.h"
#include "speech/turn_resampler.h"

namespace sorvane {

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

std::optional<SpeechEngineError> SpeechEngine::openCapture(uint64_t turn) {
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
  return std::nullopt;
}

bool SpeechEngine::prepareConditioning(const AudioInputFormat& format, bool voiceProcessingWanted) {
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
  return voiceProcessing;
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
