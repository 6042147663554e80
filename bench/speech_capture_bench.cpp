// The capture thread's work for one 1024-frame 48 kHz stereo buffer: channel average,
// resampling to 16 kHz, linear16, archive append (enqueued), enhancer, delay-queue append
// (enqueued). The queued tasks are run outside the timed region.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "speech/speech_engine.h"
#include "speech/turn_resampler.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

void perBuffer(benchmark::State& state, bool voiceProcessing) {
  testing::VirtualDispatcher dispatcher;
  TimestampedPCMDelayQueue delay(dispatcher);
  delay.reset(kQwenPCMDelayMs, kQwenSampleRate, [](PcmBytes) {});
  AudioEnhancer qwenEnhancer, deepgramEnhancer;
  auto archive = std::make_shared<PcmBytes>();
  SpeechEngine::CaptureTurn turn(dispatcher.queue(kAudioArchiveLabel), archive, delay, qwenEnhancer, deepgramEnhancer);
  // The resampler and voice processor are built by the engine at start; here by hand.
  std::string error;
  if (voiceProcessing) turn.voiceProcessor = makeWebRtcVoiceProcessor(48000, 2, error);
  turn.active = true;
  SpeechEngine::CaptureTurn::prepareForBenchmark(turn, 48000);

  std::vector<float> samples(1024 * 2);
  for (std::size_t f = 0; f < 1024; ++f) {
    samples[2 * f] = samples[2 * f + 1] = 0.2f * static_cast<float>(std::sin(2 * std::numbers::pi * 300 * f / 48000.0));
  }
  CapturedAudio audio;
  audio.interleaved = samples;
  audio.frames = 1024;
  audio.channels = 2;
  audio.sampleRate = 48000;
  double t = 1.0e12;
  int n = 0;
  for (auto _ : state) {
    audio.firstSampleWallMs = t;
    t += 1024 * 1000.0 / 48000;
    turn.process(audio);
    if (++n % 64 == 0) {
      state.PauseTiming();
      dispatcher.runUntilIdle();
      archive->clear();
      state.ResumeTiming();
    }
  }
}

void BM_CapturePerBuffer(benchmark::State& state) { perBuffer(state, false); }
void BM_CapturePerBufferWithVoiceProcessing(benchmark::State& state) { perBuffer(state, true); }
BENCHMARK(BM_CapturePerBuffer);
BENCHMARK(BM_CapturePerBufferWithVoiceProcessing);

}  // namespace
}  // namespace sorvane

