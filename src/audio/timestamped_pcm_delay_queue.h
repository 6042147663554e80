// Holds enhanced audio back for a fixed delay (80 ms in a turn) so that the end of a
// turn can be cut precisely: at the stop, chunks that ended by the cutoff are sent
// whole, the chunk that straddles it is trimmed to the part before it, and chunks that
// start at or after it are dropped. This keeps the tail of the last word and keeps out
// the key-release click and what follows.
//
// Each chunk carries the wall time of its last captured sample; the timer releases a
// chunk once that time is `delayMs` old. Every operation returns at once and does its
// work in call order on the serial queue "app.sorvane.timestamped-pcm-delay", which is
// the only lock: the capture thread calls `append`, the main thread the rest. The sink
// runs on that queue; the flush completion on the main queue. Timed releases are
// dispatches after a delay on the queue (virtual time in tests) and keep the state
// alive until they run, so the object may be destroyed with releases pending.
//
// `append` takes the buffer by value (move it in): the only allocations are per chunk,
// never per sample.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "audio/pcm_bytes.h"

namespace sorvane {

class Dispatcher;

inline constexpr const char* kDelayQueueLabel = "app.sorvane.timestamped-pcm-delay";
inline constexpr int64_t kDefaultPcmDelayMs = 80;

class TimestampedPCMDelayQueue {
 public:
  using Sink = std::function<void(PcmBytes)>;
  struct FlushStats {
    int fullBuffers = 0;
    int trimmedBuffers = 0;
    int droppedBuffers = 0;
    int64_t flushedBytes = 0;
  };
  using FlushCompletion = std::function<void(FlushStats)>;

  explicit TimestampedPCMDelayQueue(Dispatcher& dispatcher);
  ~TimestampedPCMDelayQueue();
  TimestampedPCMDelayQueue(const TimestampedPCMDelayQueue&) = delete;
  TimestampedPCMDelayQueue& operator=(const TimestampedPCMDelayQueue&) = delete;

  // Starts a turn: no chunks, running, releasing into `send`.
  void reset(int64_t delayMs, int sampleRate, Sink send);
  // Queues one chunk of 16-bit mono PCM whose last sample was captured at
  // `capturedEndMs` (wall ms). Empty chunks are ignored at once; after a stop, all are.
  void append(PcmBytes data, int64_t capturedEndMs);
  // Suspends timed releases; appends are still kept for the flush.
  void beginCutoff();
  // Stops the queue and sends what lies before `cutoffMs`; `completion` gets the counts
  // on the main queue. The chunks are gone afterwards, so a second flush sends nothing.
  void stopAndFlush(int64_t cutoffMs, FlushCompletion completion);
  // Stops and discards everything, sink included.
  void cancel();

  struct State;  // defined in the .cpp

 private:
  std::shared_ptr<State> state_;
};

}  // namespace sorvane
