#include "audio/timestamped_pcm_delay_queue.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "core/clock.h"
#include "core/dispatch.h"

namespace sorvane {

struct TimestampedPCMDelayQueue::State {
  struct Chunk {
    int64_t startMs = 0;
    int64_t endMs = 0;
    PcmBytes data;
  };

  State(Dispatcher& d) : dispatcher(d), queue(d.queue(kDelayQueueLabel)) {}

  Dispatcher& dispatcher;
  SerialQueue& queue;
  // Only touched on `queue`.
  std::deque<Chunk> chunks;
  int64_t delayMs = kDefaultPcmDelayMs;
  int sampleRate = 16000;
  bool stopped = false;
  bool isCuttingOff = false;
  Sink send;

  int64_t durationMs(std::size_t byteCount) const {
    if (sampleRate < 1) return 1;
    const double ms = static_cast<double>(byteCount) * 0.5 / sampleRate * 1000.0;
    return std::max<int64_t>(static_cast<int64_t>(ms), 1);
  }

  void drainReady(int64_t nowMs) {
    if (stopped || isCuttingOff) return;
    const int64_t readyMs = nowMs - delayMs;
    while (!chunks.empty() && chunks.front().endMs <= readyMs) {
      PcmBytes data = std::move(chunks.front().data);
      chunks.pop_front();
      if (send) send(std::move(data));
    }
  }

  FlushStats flush(int64_t cutoffMs) {
    FlushStats stats;
    for (Chunk& chunk : chunks) {
      if (chunk.endMs <= cutoffMs) {
        stats.fullBuffers += 1;
        stats.flushedBytes += static_cast<int64_t>(chunk.data.size());
        if (send) send(std::move(chunk.data));
      } else if (chunk.startMs < cutoffMs) {
        const int64_t duration = std::max<int64_t>(chunk.endMs - chunk.startMs, 1);
        const int64_t keepMs = std::min(cutoffMs - chunk.startMs, duration);
        auto keepBytes = static_cast<std::size_t>(static_cast<double>(keepMs) *
                                                  static_cast<double>(chunk.data.size()) / static_cast<double>(duration));
        keepBytes = std::min(keepBytes, chunk.data.size()) & ~std::size_t{1};
        if (keepBytes > 0) {
          stats.trimmedBuffers += 1;
          stats.flushedBytes += static_cast<int64_t>(keepBytes);
          chunk.data.resize(keepBytes);
          if (send) send(std::move(chunk.data));
        } else {
          stats.droppedBuffers += 1;
        }
      } else {
        stats.droppedBuffers += 1;
      }
    }
    // Sent or dropped: a second flush must not send the same audio again.
    chunks.clear();
    return stats;
  }
};

TimestampedPCMDelayQueue::TimestampedPCMDelayQueue(Dispatcher& dispatcher)
    : state_(std::make_shared<State>(dispatcher)) {}

TimestampedPCMDelayQueue::~TimestampedPCMDelayQueue() = default;

void TimestampedPCMDelayQueue::reset(int64_t delayMs, int sampleRate, Sink send) {
  state_->queue.post([state = state_, delayMs, sampleRate, send = std::move(send)]() mutable {
    state->chunks.clear();
    state->delayMs = delayMs;
    state->sampleRate = sampleRate;
    state->stopped = false;
    state->isCuttingOff = false;
    state->send = std::move(send);
  });
}

void TimestampedPCMDelayQueue::append(PcmBytes data, int64_t capturedEndMs) {
  if (data.empty()) return;
  state_->queue.post([state = state_, data = std::move(data), capturedEndMs]() mutable {
    if (state->stopped) return;
    const int64_t duration = state->durationMs(data.size());
    state->chunks.push_back(State::Chunk{capturedEndMs - duration, capturedEndMs, std::move(data)});
    state->drainReady(state->dispatcher.clock().wallMilliseconds());
    state->queue.postAfter(Milliseconds(std::max<int64_t>(state->delayMs, 0)),
                           [state] { state->drainReady(state->dispatcher.clock().wallMilliseconds()); });
  });
}

void TimestampedPCMDelayQueue::beginCutoff() {
  state_->queue.post([state = state_] { state->isCuttingOff = true; });
}

void TimestampedPCMDelayQueue::stopAndFlush(int64_t cutoffMs, FlushCompletion completion) {
  state_->queue.post([state = state_, cutoffMs, completion = std::move(completion)]() mutable {
    state->stopped = true;
    const FlushStats stats = state->flush(cutoffMs);
    if (completion) state->dispatcher.mainQueue().post([completion = std::move(completion), stats] { completion(stats); });
  });
}

void TimestampedPCMDelayQueue::cancel() {
  state_->queue.post([state = state_] {
    state->stopped = true;
    state->chunks.clear();
    state->send = nullptr;
  });
}

}  // namespace sorvane
