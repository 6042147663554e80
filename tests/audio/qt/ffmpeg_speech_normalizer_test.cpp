#include "audio/ffmpeg_speech_normalizer.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/dispatch.h"
#include "core/qt/qt_dispatcher.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// 64 ms of a 440 Hz tone whose loudness changes from chunk to chunk, as speech does.
PcmBytes speechLikeChunk(int index) {
  PcmBytes bytes;
  const double amplitude = 0.02 + 0.1 * (index % 5);
  for (int i = 0; i < 1024; ++i) {
    const double t = (index * 1024 + i) / 16000.0;
    const auto s = static_cast<std::int16_t>(32767 * amplitude * std::sin(2 * std::numbers::pi * 440 * t));
    bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
  }
  return bytes;
}

class SpeechNormalizerTest : public ::testing::Test {
 protected:
  // An executable stand-in for ffmpeg.
  std::vector<std::string> fake(const std::string& name, const std::string& script) {
    dir.write(name, "#!/bin/sh\n" + script + "\n");
    ::chmod(dir.file(name).c_str(), 0755);
    return {dir.file(name)};
  }
  FFmpegSpeechNormalizer::Output collect() {
    return [this](PcmBytes bytes) {
      std::lock_guard lock(mutex);
      received.insert(received.end(), bytes.begin(), bytes.end());
    };
  }
  std::size_t receivedBytes() {
    std::lock_guard lock(mutex);
    return received.size();
  }
  std::function<void()> markDone() {
    return [this] {
      EXPECT_TRUE(dispatcher->mainQueue().isCurrent());
      completions += 1;
      doneAt = Clock::now();
    };
  }

  testing::TempDir dir;
  testing::LogCapture log;
  std::unique_ptr<Dispatcher> dispatcher = makeQtDispatcher(SystemClock::instance());
  std::mutex mutex;
  PcmBytes received;
  int completions = 0;
  Clock::time_point doneAt;
};

TEST_F(SpeechNormalizerTest, FindsOnlyAnExecutableFile) {
  dir.write("plain", "not executable");
  ::mkdir(dir.file("folder").c_str(), 0755);
  const std::vector<std::string> none{dir.file("absent"), dir.file("plain"), dir.file("folder")};
  EXPECT_FALSE(FFmpegSpeechNormalizer::availablePath(none));
  FFmpegSpeechNormalizer normalizer(*dispatcher, none);
  EXPECT_FALSE(normalizer.start(16000, collect()));
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(FFmpegSpeechNormalizer::availablePath(), "/usr/bin/ffmpeg");
}

TEST_F(SpeechNormalizerTest, RealFfmpegNormalisesTheAudioAndFinishesOnce) {
  FFmpegSpeechNormalizer normalizer(*dispatcher);
  ASSERT_TRUE(normalizer.start(16000, collect()));
  EXPECT_TRUE(log.contains("ffmpeg speechnorm started path=/usr/bin/ffmpeg sampleRate=16000"));
  PcmBytes sent;
  for (int i = 0; i < 48; ++i) {  // about three seconds
    const PcmBytes chunk = speechLikeChunk(i);
    sent.insert(sent.end(), chunk.begin(), chunk.end());
    normalizer.send(chunk);
  }
  normalizer.send({});
  // The stop of a turn comes long after ffmpeg started; here, wait for its first output.
  ASSERT_TRUE(testing::waitUntil([&] { return receivedBytes() > 0; }, 5s));
  normalizer.finish(markDone());
  ASSERT_TRUE(testing::waitUntil([&] { return completions == 1; }, 5s));
  {
    std::lock_guard lock(mutex);
    EXPECT_GT(received.size(), sent.size() / 2) << "the audio inside ffmpeg drains before the completion";
    EXPECT_NE(received, sent);
  }
  normalizer.finish(markDone());  // a second finish completes at once
  ASSERT_TRUE(testing::waitUntil([&] { return completions == 2; }, 2s));
  const std::size_t before = receivedBytes();
  normalizer.send(speechLikeChunk(0));
  QCoreApplication::processEvents();
  testing::waitUntil([] { return false; }, 150ms);
  EXPECT_EQ(receivedBytes(), before) << "nothing is written or forwarded after finish";
  EXPECT_FALSE(log.contains("write failed"));
}

TEST_F(SpeechNormalizerTest, AudioStillArrivesWhenFfmpegExitsEarly) {
  FFmpegSpeechNormalizer normalizer(*dispatcher, fake("ffmpeg", "exit 1"));
  ASSERT_TRUE(normalizer.start(16000, collect()));
  ASSERT_TRUE(testing::waitUntil([&] { return log.contains("ffmpeg speechnorm exited early"); }, 5s));
  const PcmBytes chunk = speechLikeChunk(3);
  normalizer.send(chunk);
  normalizer.send(chunk);
  const auto finishAt = Clock::now();
  normalizer.finish(markDone());
  ASSERT_TRUE(testing::waitUntil([&] { return completions == 1; }, 5s));
  EXPECT_LT(doneAt - finishAt, 500ms) << "an exited ffmpeg is finalised at once";
  std::lock_guard lock(mutex);
  EXPECT_EQ(received.size(), 2 * chunk.size());
  EXPECT_EQ(log.count("ffmpeg speechnorm exited early"), 1u);
}

TEST_F(SpeechNormalizerTest, AHungFfmpegIsTerminatedAtTheBoundEvenWithAMebibyteQueued) {
  // Reads nothing and ignores the polite signal, so only the kill ends it.
  FFmpegSpeechNormalizer normalizer(*dispatcher, fake("ffmpeg", "trap '' TERM\nexec sleep 20"));
  ASSERT_TRUE(normalizer.start(16000, collect()));
  for (int i = 0; i < 512; ++i) normalizer.send(PcmBytes(2048, static_cast<std::uint8_t>(i)));
  const auto finishAt = Clock::now();
  normalizer.finish(markDone());
  ASSERT_TRUE(testing::waitUntil([&] { return completions == 1; }, 5s));
  EXPECT_GE(doneAt - finishAt, 750ms);
  EXPECT_LT(doneAt - finishAt, 850ms);
  EXPECT_TRUE(log.contains("ffmpeg speechnorm finish timeout; terminating process"));
}

TEST_F(SpeechNormalizerTest, AWriteToAClosedPipeIsLoggedOnce) {
  // Closes its input, says so with one byte, and stays alive.
  FFmpegSpeechNormalizer normalizer(*dispatcher, fake("ffmpeg", "exec 0<&-\nprintf x\nexec sleep 20"), 100ms);
  ASSERT_TRUE(normalizer.start(16000, collect()));
  ASSERT_TRUE(testing::waitUntil([&] { return receivedBytes() == 1; }, 5s));
  for (int i = 0; i < 8; ++i) normalizer.send(speechLikeChunk(i));
  ASSERT_TRUE(testing::waitUntil([&] { return log.contains("ffmpeg speechnorm write failed"); }, 5s));
  normalizer.finish(markDone());
  ASSERT_TRUE(testing::waitUntil([&] { return completions == 1; }, 5s));
  EXPECT_EQ(log.count("ffmpeg speechnorm write failed"), 1u);
}

TEST_F(SpeechNormalizerTest, CancelStopsEverythingAndALaterFinishCompletesAtOnce) {
  FFmpegSpeechNormalizer normalizer(*dispatcher, fake("ffmpeg", "exec cat"));
  ASSERT_TRUE(normalizer.start(16000, collect()));
  normalizer.send(speechLikeChunk(1));
  ASSERT_TRUE(testing::waitUntil([&] { return receivedBytes() == 2048; }, 5s)) << "the stand-in echoes its input";
  normalizer.cancel();
  normalizer.send(speechLikeChunk(2));
  normalizer.finish(markDone());
  ASSERT_TRUE(testing::waitUntil([&] { return completions == 1; }, 2s));
  testing::waitUntil([] { return false; }, 100ms);
  EXPECT_EQ(receivedBytes(), 2048u);
}

TEST_F(SpeechNormalizerTest, DestroyingARunningNormalizerStopsItsProcess) {
  auto normalizer = std::make_unique<FFmpegSpeechNormalizer>(*dispatcher, fake("ffmpeg", "trap '' TERM\nexec sleep 20"));
  ASSERT_TRUE(normalizer->start(16000, collect()));
  normalizer->send(speechLikeChunk(0));
  const auto began = Clock::now();
  normalizer.reset();
  EXPECT_LT(Clock::now() - began, 2s);
}

TEST(SpeechNormalizerArguments, ExactListForTheRate) {
  const std::vector<std::string> expected{"-hide_banner", "-loglevel", "error", "-f", "s16le", "-ar", "22050", "-ac", "1",
                                          "-i", "pipe:0", "-af", "speechnorm=e=6.25:r=0.0001:l=1,alimiter=limit=0.95",
                                          "-f", "s16le", "pipe:1"};
  EXPECT_EQ(FFmpegSpeechNormalizer::arguments(22050), expected);
}

}  // namespace
}  // namespace sorvane
