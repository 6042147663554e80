// The speech enhancer on 16 kHz speech-like audio in the capture path's chunk sizes.
// "realtime_x" is seconds of audio conditioned per second of processing (the capture
// thread needs well above 1; the goal is above 1000).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

#include "audio/audio_enhancer.h"

namespace {

constexpr int kRate = 16000;

// Ten seconds of a voiced tone under a syllable-rate envelope with quiet gaps, so the
// speech, hangover and silence branches all run.
sorvane::PcmBytes speechLike() {
  sorvane::PcmBytes bytes;
  for (int i = 0; i < 10 * kRate; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double envelope = std::fmod(t, 1.0) < 0.7 ? 0.2 * std::fabs(std::sin(2 * std::numbers::pi * 3 * t)) : 0.002;
    const auto s = static_cast<std::int16_t>(32767 * envelope *
                                             (std::sin(2 * std::numbers::pi * 180 * t) +
                                              0.4 * std::sin(2 * std::numbers::pi * 720 * t)) / 1.4);
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
  }
  return bytes;
}

void BM_EnhancerRealtimeFactor(benchmark::State& state) {
  const sorvane::PcmBytes audio = speechLike();
  const auto chunkBytes = static_cast<std::size_t>(state.range(0)) * 2;
  sorvane::AudioEnhancer enhancer;
  sorvane::PcmBytes out;
  for (auto _ : state) {
    for (std::size_t offset = 0; offset + chunkBytes <= audio.size(); offset += chunkBytes) {
      enhancer.processLinear16(std::span(audio).subspan(offset, chunkBytes), kRate, out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  const double audioSeconds = static_cast<double>(audio.size() / chunkBytes * chunkBytes) / 2 / kRate;
  state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
// 341 frames: 1024 captured at 48 kHz after conversion; 1024 frames: the WAV tool's 64 ms.
BENCHMARK(BM_EnhancerRealtimeFactor)->Arg(341)->Arg(1024);

}  // namespace
