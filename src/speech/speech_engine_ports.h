// What the capture engine is handed to make its per-turn collaborators, so that a turn
// can be driven and tested without the network or ffmpeg: the recogniser factory (over
// the Qwen and Deepgram clients of asr/), the optional speech normaliser stage in front
// of the Qwen recogniser (over the ffmpeg normaliser of audio/), and the turn's hints.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "asr/streaming_recognizer.h"
#include "audio/pcm_bytes.h"

namespace sorvane {

enum class RecognizerKind { qwen, deepgram };

// A client for one turn; nothing when it cannot be made.
using RecognizerFactory =
    std::function<std::unique_ptr<StreamingRecognizer>(RecognizerKind kind, const std::string& key, int sampleRate)>;

// The optional loudness stage between the delay queue and the Qwen recogniser.
class SpeechNormalizerStage {
 public:
  virtual ~SpeechNormalizerStage() = default;
  // `onOutput` may run on any thread.
  virtual bool start(int sampleRate, std::function<void(PcmBytes)> onOutput) = 0;
  virtual void send(PcmBytes bytes) = 0;
  // The completion runs on the main queue, once.
  virtual void finish(std::function<void()> completion) = 0;
  virtual void cancel() = 0;
};

using SpeechNormalizerFactory = std::function<std::unique_ptr<SpeechNormalizerStage>()>;

// The ffmpeg normaliser as that stage (it needs the Qt dispatcher).
std::unique_ptr<SpeechNormalizerStage> makeFFmpegSpeechNormalizerStage(class Dispatcher& dispatcher);

}  // namespace sorvane
