#include "audio/timestamped_pcm_delay_queue.h"

#include <numeric>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "support/virtual_time.h"

namespace sorvane {
namespace {

using Stats = TimestampedPCMDelayQueue::FlushStats;
using namespace std::chrono_literals;

PcmBytes ramp(std::size_t bytes) {
  PcmBytes data(bytes);
  std::iota(data.begin(), data.end(), std::uint8_t{1});
  return data;
}

class DelayQueueTest : public ::testing::Test {
 protected:
  void reset(int sampleRate = 16000, bool withSink = true) {
    queue.reset(80, sampleRate, withSink ? TimestampedPCMDelayQueue::Sink([this](PcmBytes data) {
      EXPECT_TRUE(dispatcher.queue(kDelayQueueLabel).isCurrent());
      sent.push_back(std::move(data));
    })
                                         : nullptr);
  }
  int64_t now() const { return dispatcher.clock().wallMilliseconds(); }
  Stats flush(int64_t cutoffMs) {
    std::optional<Stats> stats;
    queue.stopAndFlush(cutoffMs, [&](Stats s) {
      EXPECT_TRUE(dispatcher.mainQueue().isCurrent());
      stats = s;
    });
    dispatcher.runUntilIdle();
    EXPECT_TRUE(stats.has_value());
    return stats.value_or(Stats{});
  }
  std::size_t sentBytes() const {
    std::size_t total = 0;
    for (const PcmBytes& s : sent) total += s.size();
    return total;
  }

  testing::VirtualDispatcher dispatcher;
  TimestampedPCMDelayQueue queue{dispatcher};
  std::vector<PcmBytes> sent;
};

void expectStats(const Stats& s, int full, int trimmed, int dropped, int64_t bytes) {
  EXPECT_EQ(s.fullBuffers, full);
  EXPECT_EQ(s.trimmedBuffers, trimmed);
  EXPECT_EQ(s.droppedBuffers, dropped);
  EXPECT_EQ(s.flushedBytes, bytes);
}

TEST_F(DelayQueueTest, CutoffSendsTheChunkBeforeItTrimsTheStraddlingOneAndDropsTheRest) {
  reset();
  const int64_t base = now() + 500;
  queue.append(ramp(3200), base);  // base-100 ... base
  queue.beginCutoff();
  queue.append(ramp(3200), base + 80);   // base-20 ... base+80
  queue.append(ramp(3200), base + 220);  // base+120 ... base+220
  dispatcher.advance(50ms);
  EXPECT_TRUE(sent.empty());
  expectStats(flush(base + 30), 1, 1, 1, 4800);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], ramp(3200));
  EXPECT_EQ(sent[1], ramp(1600)) << "the trimmed chunk keeps its first 50 of 100 ms";
  dispatcher.advance(1000ms);
  EXPECT_EQ(sentBytes(), 4800u);
}

TEST_F(DelayQueueTest, CutoffBoundariesAndTinyTrims) {
  struct Case {
    const char* name;
    int sampleRate;
    std::size_t bytes;
    int64_t cutoffAfterStart;  // the chunk starts at end - duration
    int64_t durationMs;
    Stats expected;
  };
  const Case cases[] = {
      {"end equals cutoff", 16000, 3200, 100, 100, {1, 0, 0, 3200}},
      {"start equals cutoff", 16000, 3200, 0, 100, {0, 0, 1, 0}},
      {"cutoff before start", 16000, 3200, -5, 100, {0, 0, 1, 0}},
      {"one millisecond kept", 16000, 3200, 1, 100, {0, 1, 0, 32}},
      {"share of 0 bytes", 250, 2, 2, 4, {0, 0, 1, 0}},
      {"share of 1 byte", 250, 4, 2, 8, {0, 0, 1, 0}},
      {"share of 2 bytes", 250, 4, 4, 8, {0, 1, 0, 2}},
      {"odd share lowered", 250, 6, 9, 12, {0, 1, 0, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sent.clear();
    reset(c.sampleRate);
    const int64_t end = now() + 1000;
    queue.append(ramp(c.bytes), end);
    const Stats s = flush(end - c.durationMs + c.cutoffAfterStart);
    expectStats(s, c.expected.fullBuffers, c.expected.trimmedBuffers, c.expected.droppedBuffers, c.expected.flushedBytes);
    EXPECT_EQ(sentBytes(), static_cast<std::size_t>(c.expected.flushedBytes));
  }
}

TEST_F(DelayQueueTest, TheTimerReleasesAChunkOnceItsLastSampleIsEightyMillisecondsOld) {
  reset();
  queue.append(ramp(2048), now());
  dispatcher.advance(79ms);
  EXPECT_TRUE(sent.empty());
  dispatcher.advance(1ms);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], ramp(2048));
}

TEST_F(DelayQueueTest, ChunksStampedInTheFutureWaitForTheirTime) {
  reset();
  const int64_t future = now() + 500;
  queue.append(ramp(2048), future);
  dispatcher.advance(80ms);
  EXPECT_TRUE(sent.empty());
  dispatcher.advance(500ms);  // now = future + 80, but no release was due since
  queue.append(ramp(1024), now());
  dispatcher.runUntilIdle();
  ASSERT_EQ(sent.size(), 1u) << "the next append releases the waiting chunk in order";
  EXPECT_EQ(sent[0].size(), 2048u);
  dispatcher.advance(80ms);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].size(), 1024u);
}

TEST_F(DelayQueueTest, AnEmptyAppendSchedulesNothing) {
  reset();
  dispatcher.runUntilIdle();
  queue.append({}, now());
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

TEST_F(DelayQueueTest, AfterTheFlushNothingMoreIsSentAndASecondFlushFindsNothing) {
  reset();
  queue.append(ramp(3200), now());  // its timed release is pending
  expectStats(flush(now() - 200), 0, 0, 1, 0);
  queue.append(ramp(3200), now() - 500);
  dispatcher.advance(1000ms);
  EXPECT_TRUE(sent.empty());
  expectStats(flush(now() + 1000), 0, 0, 0, 0);
  EXPECT_TRUE(sent.empty());
}

TEST_F(DelayQueueTest, CuttingOffHoldsChunksBackUntilTheFlush) {
  reset();
  queue.append(ramp(3200), now());
  queue.beginCutoff();
  dispatcher.advance(300ms);
  EXPECT_TRUE(sent.empty());
  expectStats(flush(now()), 1, 0, 0, 3200);
  EXPECT_EQ(sentBytes(), 3200u);
}

TEST_F(DelayQueueTest, CancelDiscardsEverythingAndFlushesAreCountedWithoutASink) {
  reset();
  queue.append(ramp(3200), now());
  queue.cancel();
  dispatcher.advance(300ms);
  EXPECT_TRUE(sent.empty());
  expectStats(flush(now()), 0, 0, 0, 0);

  reset(16000, /*withSink=*/false);
  const int64_t end = now() + 1000;
  queue.append(ramp(3200), end - 100);
  queue.append(ramp(3200), end);
  expectStats(flush(end - 50), 1, 1, 0, 4800);
}

TEST_F(DelayQueueTest, ResetStartsAFreshTurnAfterAStop) {
  reset();
  flush(now());
  reset();
  queue.append(ramp(640), now());
  dispatcher.advance(80ms);
  EXPECT_EQ(sentBytes(), 640u);
}

}  // namespace
}  // namespace sorvane
