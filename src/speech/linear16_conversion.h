// Conversion of captured float buffers into the linear16 audio of the recogniser paths,
// the input level for the HUD and the capture times of the delay queue.
//
// Pure functions, called on the capture thread for every buffer. Channels are averaged
// first (one channel is taken as is); samples are clamped to [-1, 1] and scaled by 32767
// with truncation, so full scale is ±32767 and never -32768.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "audio/audio_input.h"
#include "audio/pcm_bytes.h"

namespace sorvane {

// A source whose rate is within this of the target is not resampled.
inline constexpr double kResampleToleranceHz = 1.0;
// Headroom of a converter's output buffer beyond the exact rate ratio, in frames.
inline constexpr std::size_t kResampleCapacitySlackFrames = 32;
// The level meter's gain on the RMS of channel 0 (full deflection at RMS ≈ 0.056).
inline constexpr double kLevelGain = 18.0;

bool needsResampling(double sourceRate, double targetRate);
// The output frames one buffer of `frames` frames may yield: target/source × frames + 32,
// truncated, at least 1.
std::size_t resampleCapacity(std::size_t frames, double sourceRate, double targetRate);

// The mean over channels of each frame, into `mono` (resized to the frame count).
void averageChannels(const CapturedAudio& audio, std::vector<float>& mono);
// Clamps, scales by 32767, truncates and appends little-endian 16-bit samples.
void appendLinear16(std::span<const float> mono, PcmBytes& out);
// The buffer at its own rate as linear16 mono (the native-rate recogniser path); empty for
// an empty buffer.
PcmBytes linear16MonoData(const CapturedAudio& audio);

// min(sqrt(mean of channel 0 squared) × 18, 1); nothing for an empty buffer.
std::optional<double> inputLevel(const CapturedAudio& audio);

// The wall time (Unix ms) at which the buffer's last sample was captured: its first
// sample's time plus its duration (at least 1 ms).
int64_t audioEndMilliseconds(const CapturedAudio& audio);

}  // namespace sorvane
