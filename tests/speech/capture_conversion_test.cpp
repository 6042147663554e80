// Conversion of captured buffers: channel averaging, saturation, resampling across
// buffer edges, levels, capture times and re-blocking.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/audio_input_reblocker.h"
#include "speech/linear16_conversion.h"
#include "speech/turn_resampler.h"

namespace sorvane {
namespace {

CapturedAudio view(const std::vector<float>& samples, int channels, double rate, double firstMs = 0) {
  CapturedAudio a;
  a.interleaved = samples;
  a.channels = channels;
  a.frames = samples.size() / static_cast<std::size_t>(channels);
  a.sampleRate = rate;
  a.firstSampleWallMs = firstMs;
  return a;
}

int16_t sampleAt(const PcmBytes& bytes, std::size_t i) {
  return static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

std::vector<float> sine(std::size_t frames, double freq, double rate, double amplitude, std::size_t offset = 0) {
  std::vector<float> out(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    out[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * freq * double(i + offset) / rate));
  }
  return out;
}

TEST(Linear16Conversion, StereoFloatBufferAt48kHz) {
  std::vector<float> stereo(1024 * 2);
  for (std::size_t f = 0; f < 1024; ++f) {
    stereo[2 * f] = 0.5f;
    stereo[2 * f + 1] = -0.25f;
  }
  const CapturedAudio audio = view(stereo, 2, 48000);
  EXPECT_EQ(resampleCapacity(1024, 48000, 16000), 373u);
  const PcmBytes native = linear16MonoData(audio);
  ASSERT_EQ(native.size(), 2048u);  // the native-rate path: 1024 frames, mono
  EXPECT_EQ(sampleAt(native, 0), static_cast<int16_t>(0.125f * 32767.0f));

  // The 16 kHz path yields about a third of the frames per buffer once the filter runs.
  TurnResampler resampler(48000, 16000);
  std::vector<float> mono, out;
  std::size_t total = 0;
  for (int i = 0; i < 30; ++i) {
    averageChannels(audio, mono);
    out.clear();
    ASSERT_FALSE(resampler.process(mono, out));
    EXPECT_LE(out.size(), 373u);
    total += out.size();
  }
  EXPECT_NEAR(static_cast<double>(total) / 30.0, 341.0, 20.0);
}

TEST(Linear16Conversion, SaturatesSymmetrically) {
  struct Case {
    float in;
    int16_t out;
  };
  for (const Case& c : {Case{1.5f, 32767}, Case{1.0f, 32767}, Case{-1.0f, -32767}, Case{-7.0f, -32767},
                        Case{0.5f, 16383}, Case{-0.5f, -16383}, Case{NAN, 0}}) {
    PcmBytes bytes;
    const float sample = c.in;
    appendLinear16(std::span<const float>(&sample, 1), bytes);
    EXPECT_EQ(sampleAt(bytes, 0), c.out) << c.in;
  }
}

TEST(Linear16Conversion, ResamplesOnlyBeyondOneHertz) {
  struct Case {
    double rate;
    bool resample;
  };
  for (const Case& c : {Case{16000, false}, Case{16001, false}, Case{15999, false}, Case{16001.5, true},
                        Case{44100, true}, Case{48000, true}}) {
    EXPECT_EQ(needsResampling(c.rate, 16000), c.resample) << c.rate;
    EXPECT_EQ(TurnResampler(c.rate, 16000).isPassThrough(), !c.resample) << c.rate;
  }
}

TEST(TurnResampler, OutputLengthPerTurnMatchesTheRateRatio) {
  for (double rate : {48000.0, 44100.0, 32000.0, 22050.0}) {
    TurnResampler resampler(rate, 16000);
    std::vector<float> out;
    const std::vector<float> block = sine(1024, 440, rate, 0.3);
    const int blocks = 97;
    for (int i = 0; i < blocks; ++i) ASSERT_FALSE(resampler.process(block, out));
    ASSERT_FALSE(resampler.drain(out));
    const double expected = 1024.0 * blocks * 16000.0 / rate;
    EXPECT_NEAR(static_cast<double>(out.size()), expected, 32.0) << rate;
  }
}

// The per-buffer converter keeps its filter state: a 1 kHz sine cut into 1024-frame
// buffers comes out exactly as when converted in one piece, so no buffer edge clicks.
TEST(TurnResampler, BufferEdgesLeaveNoDiscontinuity) {
  const std::size_t blocks = 40;
  const std::vector<float> whole = sine(1024 * blocks, 1000, 48000, 0.5);
  TurnResampler oneShot(48000, 16000);
  std::vector<float> reference;
  ASSERT_FALSE(oneShot.process(whole, reference));
  ASSERT_FALSE(oneShot.drain(reference));

  TurnResampler perBuffer(48000, 16000);
  std::vector<float> pieces;
  for (std::size_t b = 0; b < blocks; ++b) {
    ASSERT_FALSE(perBuffer.process(std::span<const float>(whole).subspan(b * 1024, 1024), pieces));
  }
  ASSERT_FALSE(perBuffer.drain(pieces));
  ASSERT_EQ(pieces.size(), reference.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) ASSERT_NEAR(pieces[i], reference[i], 1e-5f) << i;

  // And the signal itself is a clean sine: past the filter's start, no step between
  // neighbours exceeds the sine's own slope at 16 kHz.
  const double maxStep = 0.5 * 2 * std::numbers::pi * 1000 / 16000 * 1.05;
  for (std::size_t i = 200; i + 200 < pieces.size(); ++i) {
    ASSERT_LE(std::fabs(pieces[i + 1] - pieces[i]), maxStep) << i;
  }
}

TEST(CaptureLevels, LevelAndEndTime) {
  EXPECT_FALSE(inputLevel(view({}, 1, 48000)).has_value());
  // Channel 0 only: RMS 0.01 × 18.
  std::vector<float> stereo = {0.01f, 0.9f, -0.01f, 0.9f};
  EXPECT_NEAR(*inputLevel(view(stereo, 2, 48000)), 0.18, 1e-6);
  EXPECT_DOUBLE_EQ(*inputLevel(view({0.5f, -0.5f}, 1, 48000)), 1.0);

  std::vector<float> block(1024);
  EXPECT_EQ(audioEndMilliseconds(view(block, 1, 48000, 1000.7)), 1000 + 21);
  EXPECT_EQ(audioEndMilliseconds(view(block, 1, 16000, 5000)), 5000 + 64);
  std::vector<float> tiny(3);
  EXPECT_EQ(audioEndMilliseconds(view(tiny, 1, 48000, 10)), 11);  // at least 1 ms
}

TEST(AudioInputReblocker, CutsExactBlocksWithContiguousTimes) {
  AudioInputReblocker reblocker(48000, 2);
  std::vector<double> starts;
  std::vector<float> firstSamples;
  std::size_t fed = 0;
  const auto emit = [&](const CapturedAudio& a) {
    ASSERT_EQ(a.frames, 1024u);
    ASSERT_EQ(a.interleaved.size(), 2048u);
    starts.push_back(a.firstSampleWallMs);
    firstSamples.push_back(a.interleaved[0]);
  };
  // Deliveries of uneven sizes, as a server hands them out.
  reblocker.anchor(10'000.0);
  for (std::size_t size : {300u, 1500u, 7u, 2000u, 1024u, 513u}) {
    std::vector<float> chunk(size * 2);
    for (std::size_t f = 0; f < size; ++f) chunk[2 * f] = chunk[2 * f + 1] = static_cast<float>(fed + f);
    fed += size;
    reblocker.push(chunk.data(), size, emit);
  }
  ASSERT_EQ(starts.size(), fed / 1024);
  for (std::size_t i = 0; i < starts.size(); ++i) {
    EXPECT_DOUBLE_EQ(starts[i], 10'000.0 + i * 1024 * 1000.0 / 48000);
    EXPECT_EQ(firstSamples[i], static_cast<float>(i * 1024));  // no frame lost or repeated
  }
  EXPECT_EQ(reblocker.pendingFrames(), fed % 1024);
}

}  // namespace
}  // namespace sorvane
