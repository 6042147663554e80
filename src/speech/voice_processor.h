// Voice processing of the captured stream (noise suppression and automatic gain), the
// stand-in for a platform's voice-processing input, switched on by the file
// "enable-voice-processing-io" in the configuration folder.
//
// A processor works on interleaved float buffers of any length at the stream's own rate
// and returns as many frames as it is given, delayed by `latencyFrames` (it works in
// 10 ms blocks internally). One processor per turn; used on the capture thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace sorvane {

class VoiceProcessor {
 public:
  virtual ~VoiceProcessor() = default;
  // Processes `interleaved` in place (frames × channels samples).
  virtual void process(std::span<float> interleaved) = 0;
  virtual std::size_t latencyFrames() const = 0;
};

// Makes a processor for a stream, or nothing with `error` describing why.
using VoiceProcessorFactory =
    std::function<std::unique_ptr<VoiceProcessor>(int sampleRate, int channels, std::string& error)>;

// webrtc-audio-processing: noise suppression (high) and adaptive digital gain control.
std::unique_ptr<VoiceProcessor> makeWebRtcVoiceProcessor(int sampleRate, int channels, std::string& error);

}  // namespace sorvane
