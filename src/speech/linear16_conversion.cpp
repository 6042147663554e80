#include "speech/linear16_conversion.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace sorvane {

bool needsResampling(double sourceRate, double targetRate) {
  return std::fabs(sourceRate - targetRate) > kResampleToleranceHz;
}

std::size_t resampleCapacity(std::size_t frames, double sourceRate, double targetRate) {
  const double capacity =
      targetRate / std::max(sourceRate, 1.0) * static_cast<double>(frames) + kResampleCapacitySlackFrames;
  return std::max<std::size_t>(static_cast<std::size_t>(capacity), 1);
}

void averageChannels(const CapturedAudio& audio, std::vector<float>& mono) {
  const auto channels = static_cast<std::size_t>(std::max(audio.channels, 1));
  const std::size_t frames = std::min(audio.frames, audio.interleaved.size() / channels);
  mono.resize(frames);
  const float* in = audio.interleaved.data();
  if (channels == 1) {
    std::copy(in, in + frames, mono.begin());
    return;
  }
  const float scale = 1.0f / static_cast<float>(channels);
  for (std::size_t f = 0; f < frames; ++f) {
    float sum = 0;
    for (std::size_t c = 0; c < channels; ++c) sum += in[f * channels + c];
    mono[f] = sum * scale;
  }
}

void appendLinear16(std::span<const float> mono, PcmBytes& out) {
  const std::size_t start = out.size();
  out.resize(start + mono.size() * 2);
  uint8_t* bytes = out.data() + start;
  for (float s : mono) {
    // NaN compares false both ways and lands on 0.
    const float clamped = s > 1.0f ? 1.0f : (s < -1.0f ? -1.0f : (s == s ? s : 0.0f));
    const auto sample = static_cast<int16_t>(clamped * 32767.0f);
    const auto u = static_cast<uint16_t>(sample);
    *bytes++ = static_cast<uint8_t>(u & 0xff);
    *bytes++ = static_cast<uint8_t>(u >> 8);
  }
}

PcmBytes linear16MonoData(const CapturedAudio& audio) {
  std::vector<float> mono;
  averageChannels(audio, mono);
  PcmBytes out;
  appendLinear16(mono, out);
  return out;
}

std::optional<double> inputLevel(const CapturedAudio& audio) {
  const auto channels = static_cast<std::size_t>(std::max(audio.channels, 1));
  const std::size_t frames = std::min(audio.frames, audio.interleaved.size() / channels);
  if (frames == 0) return std::nullopt;
  double sum = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    const double s = audio.interleaved[f * channels];
    sum += s * s;
  }
  return std::min(std::sqrt(sum / static_cast<double>(frames)) * kLevelGain, 1.0);
}

int64_t audioEndMilliseconds(const CapturedAudio& audio) {
  const double durationMs = static_cast<double>(audio.frames) / std::max(audio.sampleRate, 1.0) * 1000.0;
  const int64_t duration = std::max<int64_t>(static_cast<int64_t>(durationMs), 1);
  return static_cast<int64_t>(audio.firstSampleWallMs) + duration;
}

}  // namespace sorvane
