// The delay queue's append and release path over one minute of 16 kHz audio in the
// capture path's ~21 ms chunks (341 frames after conversion from 48 kHz), each released
// 80 ms after its capture. "share_of_real_time" is the processing time divided by the
// minute of audio (the goal is well under 0.01).
//
// Virtual: the queue's own work and timers, with the virtual-time dispatcher.
// Qt: the real path with a queue thread, from `append` on the calling thread to the
// sink on the queue thread (chunks stamped in the past are released on append).
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <atomic>
#include <memory>
#include <thread>

#include "audio/timestamped_pcm_delay_queue.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "support/virtual_time.h"

namespace {

constexpr std::size_t kChunkBytes = 341 * 2;
constexpr int64_t kChunkMs = 21;
constexpr int kChunksPerMinute = 60'000 / kChunkMs;

void BM_DelayQueueMinuteVirtual(benchmark::State& state) {
  for (auto _ : state) {
    sorvane::testing::VirtualDispatcher dispatcher;
    sorvane::TimestampedPCMDelayQueue queue(dispatcher);
    std::size_t sent = 0;
    queue.reset(80, 16000, [&](sorvane::PcmBytes data) { sent += data.size(); });
    for (int i = 0; i < kChunksPerMinute; ++i) {
      queue.append(sorvane::PcmBytes(kChunkBytes), dispatcher.clock().wallMilliseconds());
      dispatcher.advance(sorvane::Milliseconds(kChunkMs));
    }
    dispatcher.advance(sorvane::Milliseconds(200));
    if (sent != kChunksPerMinute * kChunkBytes) state.SkipWithError("not every chunk was released");
  }
  state.counters["share_of_real_time"] =
      benchmark::Counter(60.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DelayQueueMinuteVirtual)->Unit(benchmark::kMillisecond);

void BM_DelayQueueMinuteQt(benchmark::State& state) {
  static int argc = 1;
  static char name[] = "delay_queue_bench";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
  auto dispatcher = sorvane::makeQtDispatcher(sorvane::SystemClock::instance());
  for (auto _ : state) {
    sorvane::TimestampedPCMDelayQueue queue(*dispatcher);
    std::atomic<std::size_t> sent = 0;
    queue.reset(80, 16000, [&](sorvane::PcmBytes data) { sent += data.size(); });
    const int64_t past = sorvane::currentMilliseconds() - 60'000;
    for (int i = 0; i < kChunksPerMinute; ++i) queue.append(sorvane::PcmBytes(kChunkBytes), past + i * kChunkMs - 80);
    while (sent.load() != kChunksPerMinute * kChunkBytes) std::this_thread::yield();
    queue.cancel();
  }
  state.counters["share_of_real_time"] =
      benchmark::Counter(60.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DelayQueueMinuteQt)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
