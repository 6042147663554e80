// The on-device speech recogniser port: a shadow recogniser that hears the same
// captured buffers as the cloud recogniser and whose text wins when the cloud text is
// empty or much shorter.
//
// No backend exists yet, so the engine runs without one: its permission reads as not
// authorised and a turn without a cloud key does not start. A backend reports results
// on the queue it is given; destroying the task cancels it, after which no result
// arrives. `append` is called on the capture thread and must only enqueue.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/audio_input.h"

namespace sorvane {

class SerialQueue;

// The raw values of the platform's speech-permission answer, as logged.
enum class SpeechAuthorization : int { notDetermined = 0, denied = 1, restricted = 2, authorized = 3 };

struct OnDeviceRecognitionResult {
  std::string text;                  // best transcription so far; empty: none
  std::optional<std::string> error;  // a failure; the task keeps running
};

class OnDeviceRecognitionTask {
 public:
  virtual ~OnDeviceRecognitionTask() = default;  // cancels
  virtual void append(const CapturedAudio& audio) = 0;
  virtual void endAudio() = 0;
};

class OnDeviceRecognizer {
 public:
  virtual ~OnDeviceRecognizer() = default;
  virtual SpeechAuthorization requestAuthorization() = 0;
  // Starts a request with partial results for `locale`; nullptr when none can be made.
  virtual std::unique_ptr<OnDeviceRecognitionTask> start(const std::string& locale, SerialQueue& resultQueue,
                                                         std::function<void(OnDeviceRecognitionResult)> onResult) = 0;
};

}  // namespace sorvane
