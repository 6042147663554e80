// The in-process speech conditioner for 16-bit mono PCM ("cautious-blended-tail-safe"):
// an 85 Hz one-pole high-pass against rumble, a tracked background floor, a slowly
// smoothed gain during speech with a hangover of about 680 ms after it, a soft gate on
// the quiet parts, a blend with the untouched input, and a last check that hands the
// input back unchanged when processing would have made the chunk implausibly quiet or
// loud.
//
// One instance per audio path carries its filter and level state from chunk to chunk;
// the owner calls `reset` at each turn start and on cancel. Not thread-safe: it runs on
// whichever thread feeds it (the capture thread, or the WAV tool). After the first
// chunks of the largest size it allocates nothing: the work arrays are kept and reused,
// and the overload that writes into a caller's buffer reuses that buffer too.
//
// All arithmetic is 32-bit float, so the same input gives the same bytes everywhere.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "audio/pcm_bytes.h"

namespace sorvane {

struct AudioEnhancerState {
  float previousInput = 0.0f;     // last input sample of the previous chunk, in [-1, 1)
  float previousHighPass = 0.0f;  // last high-pass output of the previous chunk
  float noiseFloorRMS = 0.012f;   // tracked RMS of the (high-passed) background
  float smoothedGain = 1.0f;      // current speech gain
  int speechHoldFrames = 0;       // chunks of hangover left after speech
  int lastSampleRate = 16000;     // rate of the previous chunk, in Hz
};

class AudioEnhancer {
 public:
  // Returns a buffer of the same length: the processed samples, or the input unchanged
  // when the chunk is too short (under one sample), the rate is below 1 Hz, or the level
  // check refuses the result. An odd trailing byte is copied as it is.
  PcmBytes processLinear16(std::span<const std::uint8_t> bytes, int sampleRate);
  // The same into `out` (resized to the input's length), for callers that keep a buffer.
  void processLinear16(std::span<const std::uint8_t> bytes, int sampleRate, PcmBytes& out);

  void reset() { state_ = AudioEnhancerState{}; }
  const AudioEnhancerState& state() const { return state_; }

 private:
  AudioEnhancerState state_;
  std::vector<float> input_;
  std::vector<float> highPassed_;
  std::vector<float> output_;
};

// Root mean square of little-endian 16-bit samples scaled by 1/32768, over
// max(byteCount / 2, 1) samples; 0 for an empty buffer.
float rms(std::span<const std::uint8_t> bytes);

namespace enhancer_detail {
// The last shaping steps of one sample: clamp the blended value to +-1.4, soft-clip it,
// and write it as a 16-bit sample (truncated, within +-32767).
float softClip(float blended);
std::int16_t toLinear16(float shaped);
// The level check: true when the input must be returned unchanged (a speech chunk made
// implausibly quiet or loud, any audible chunk made far louder, near-silence made
// audible).
bool keepsInput(bool active, float inRMS, float outRMS);
}  // namespace enhancer_detail

}  // namespace sorvane
