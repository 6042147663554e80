// What the capture engine needs from a realtime cloud recogniser and from the optional
// speech normaliser stage in front of it, so that a turn can be driven and tested
// without the network or ffmpeg. The adapters over the Qwen and Deepgram clients and over
// the ffmpeg normaliser live in speech/recognizer_adapters.*.
//
// A recogniser is created per turn with its key and sample rate. `send` may be called
// from any thread and only enqueues; `onTranscript` and the finish completion run on the
// main queue; `onMark` and `onValue` may run on any queue (the engine hops to the main
// queue before passing them on).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "audio/pcm_bytes.h"
#include "core/json.h"

namespace sorvane {

enum class RecognizerKind { qwen, deepgram };

struct RecognizerCallbacks {
  std::function<void(std::string text, bool isFinal)> onTranscript;
  std::function<void(std::string name)> onMark;
  std::function<void(std::string key, Json value)> onValue;
};

class StreamingRecognizer {
 public:
  virtual ~StreamingRecognizer() = default;
  virtual void start(RecognizerCallbacks callbacks) = 0;
  virtual void send(PcmBytes bytes) = 0;
  virtual void finish(std::function<void(std::string text)> completion) = 0;
  virtual void cancel() = 0;
};

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

}  // namespace sorvane
