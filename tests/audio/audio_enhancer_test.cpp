#include "audio/audio_enhancer.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace sorvane {
namespace {

constexpr int kRate = 16000;

PcmBytes linear16(const std::vector<float>& samples) {
  PcmBytes bytes;
  for (float v : samples) {
    const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 32767.0f));
    bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(s >> 8));
  }
  return bytes;
}

// 0.08 sin(440 Hz) + 0.05 sin(55 Hz): voiced speech as far as the enhancer is concerned.
PcmBytes speechChunk(int samples) {
  std::vector<float> v(samples);
  for (int i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) / kRate;
    v[i] = static_cast<float>(0.08 * std::sin(2 * std::numbers::pi * 440 * t) +
                              0.05 * std::sin(2 * std::numbers::pi * 55 * t));
  }
  return linear16(v);
}

PcmBytes tone(int samples, double hz, double amplitude) {
  std::vector<float> v(samples);
  for (int i = 0; i < samples; ++i) v[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate));
  return linear16(v);
}

void expectFresh(const AudioEnhancerState& s) {
  const AudioEnhancerState fresh;
  EXPECT_EQ(s.previousInput, fresh.previousInput);
  EXPECT_EQ(s.previousHighPass, fresh.previousHighPass);
  EXPECT_EQ(s.noiseFloorRMS, fresh.noiseFloorRMS);
  EXPECT_EQ(s.smoothedGain, fresh.smoothedGain);
  EXPECT_EQ(s.speechHoldFrames, fresh.speechHoldFrames);
  EXPECT_EQ(s.lastSampleRate, fresh.lastSampleRate);
}

TEST(AudioEnhancer, InputsWithoutASampleOrRateComeBackUnchangedAndLeaveTheStateAlone) {
  struct Case {
    PcmBytes bytes;
    int rate;
  };
  const Case cases[] = {{{}, kRate}, {{0x7F}, kRate}, {{0x10, 0x20}, 0}, {speechChunk(64), -8000}};
  for (const Case& c : cases) {
    AudioEnhancer enhancer;
    EXPECT_EQ(enhancer.processLinear16(c.bytes, c.rate), c.bytes) << c.bytes.size() << " bytes at " << c.rate;
    expectFresh(enhancer.state());
  }
}

TEST(AudioEnhancer, AllZeroInputOnAFreshEnhancerStaysZeroAndRelaxesFloorAndGain) {
  AudioEnhancer enhancer;
  const PcmBytes zeros(3200, 0);
  EXPECT_EQ(enhancer.processLinear16(zeros, kRate), zeros);
  EXPECT_NEAR(enhancer.state().noiseFloorRMS, 0.01104f, 1e-7);
  EXPECT_NEAR(enhancer.state().smoothedGain, 0.909f, 1e-6);
  EXPECT_EQ(enhancer.state().speechHoldFrames, 0);
}

TEST(AudioEnhancer, SpeechSetsAHangoverOfAbout680MsButAtLeastSixChunks) {
  struct Case {
    int samples;
    int hold;
  };
  // 64 ms, 21.3 ms, 100 ms, 113.44 ms, 200 ms.
  for (const Case c : {Case{1024, 11}, Case{341, 32}, Case{1600, 7}, Case{1815, 6}, Case{3200, 6}}) {
    AudioEnhancer enhancer;
    enhancer.processLinear16(speechChunk(c.samples), kRate);
    EXPECT_EQ(enhancer.state().speechHoldFrames, c.hold) << c.samples << " samples";
  }
}

TEST(AudioEnhancer, HangoverCountsDownOneChunkAtATimeInTheQuiet) {
  AudioEnhancer enhancer;
  enhancer.processLinear16(speechChunk(1024), kRate);
  const PcmBytes quiet(2048, 0);
  for (int left = 10; left >= 0; --left) {
    enhancer.processLinear16(quiet, kRate);
    EXPECT_EQ(enhancer.state().speechHoldFrames, left);
  }
  enhancer.processLinear16(quiet, kRate);
  EXPECT_EQ(enhancer.state().speechHoldFrames, 0);
}

TEST(AudioEnhancer, ARateChangeClearsFilterMemoryAndHangoverButKeepsLevels) {
  AudioEnhancer enhancer;
  enhancer.processLinear16(speechChunk(1024), kRate);
  const float floor = enhancer.state().noiseFloorRMS;
  const float gain = enhancer.state().smoothedGain;
  const PcmBytes one{0, 0};  // a zero sample: the filter memory it leaves is 0 again
  enhancer.processLinear16(one, 48000);
  EXPECT_EQ(enhancer.state().lastSampleRate, 48000);
  EXPECT_EQ(enhancer.state().previousInput, 0.0f);
  EXPECT_EQ(enhancer.state().previousHighPass, 0.0f);
  EXPECT_EQ(enhancer.state().speechHoldFrames, 0);  // cleared, then a quiet chunk
  EXPECT_NE(enhancer.state().noiseFloorRMS, 0.012f);
  EXPECT_NEAR(enhancer.state().noiseFloorRMS, floor * 0.92f, 1e-6);  // silence tracking from the kept floor
  EXPECT_NEAR(enhancer.state().smoothedGain, gain * 0.87f + 0.039f, 1e-6);
}

TEST(AudioEnhancer, ClampSoftClipAndSampleConversion) {
  using enhancer_detail::softClip;
  using enhancer_detail::toLinear16;
  struct Case {
    float blended;
    float shaped;
    std::int16_t sample;
  };
  const Case cases[] = {
      {1.4f, 1.1182108f, 32767},    {3.0f, 1.1182108f, 32767},    {-1.4f, -1.1182108f, -32767},
      {-9.0f, -1.1182108f, -32767}, {0.5f, 0.4587156f, 15030},    {-0.5f, -0.4587156f, -15030},
      {0.0f, 0.0f, 0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(softClip(c.blended), c.shaped, 1e-6) << c.blended;
    EXPECT_EQ(toLinear16(softClip(c.blended)), c.sample) << c.blended;
  }
}

TEST(AudioEnhancer, LevelCheckHandsBackTheInputOnlyForImplausibleResults) {
  struct Case {
    bool active;
    float in;
    float out;
    bool keeps;
  };
  const Case cases[] = {
      {true, 0.1f, 0.05f, true},       // speech made far quieter
      {true, 0.1f, 0.06f, false},      // within 0.58x
      {true, 0.1f, 0.29f, true},       // speech made far louder
      {false, 0.1f, 0.05f, false},     // quiet result of a non-speech chunk is fine
      {false, 0.005f, 0.015f, true},   // audible chunk made more than 2.8x louder
      {true, 0.005f, 0.0015f, false},  // below 0.006 the quiet bound does not apply
      {false, 0.003f, 0.0095f, false}, // between 0.0025 and 0.004 always processed
      {false, 0.002f, 0.0061f, true},  // near-silence made audible
      {false, 0.002f, 0.0059f, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(enhancer_detail::keepsInput(c.active, c.in, c.out), c.keeps)
        << "active=" << c.active << " in=" << c.in << " out=" << c.out;
  }
}

TEST(AudioEnhancer, SpeechIsProcessedWithItsLengthKeptAndAnOddTrailingByteUntouched) {
  AudioEnhancer enhancer;
  PcmBytes input = speechChunk(1600);
  input.push_back(0xAB);
  const PcmBytes output = enhancer.processLinear16(input, kRate);
  ASSERT_EQ(output.size(), input.size());
  EXPECT_NE(output, input);
  EXPECT_EQ(output.back(), 0xAB);
  EXPECT_GT(rms(output), 0.0f);
}

TEST(AudioEnhancer, AWeakToneIsTreatedAsBackgroundAndComesBackAtAboutHalfItsLevel) {
  AudioEnhancer enhancer;
  const PcmBytes input = tone(1600, 330, 0.012);
  const PcmBytes output = enhancer.processLinear16(input, kRate);
  EXPECT_EQ(enhancer.state().speechHoldFrames, 0);
  const float ratio = rms(output) / rms(input);
  EXPECT_GT(ratio, 0.45f);
  EXPECT_LT(ratio, 0.6f);
}

TEST(AudioEnhancer, SilenceStaysSilent) {
  AudioEnhancer enhancer;
  EXPECT_LT(rms(enhancer.processLinear16(PcmBytes(3200, 0), kRate)), 0.0005f);
}

TEST(AudioEnhancer, TheBufferFormMatchesTheReturningFormAndResetRestoresTheFreshState) {
  AudioEnhancer a;
  AudioEnhancer b;
  PcmBytes reused;
  for (int i = 0; i < 3; ++i) {
    const PcmBytes chunk = i == 1 ? PcmBytes(2048, 0) : speechChunk(1024);
    b.processLinear16(chunk, kRate, reused);
    EXPECT_EQ(a.processLinear16(chunk, kRate), reused);
  }
  a.reset();
  expectFresh(a.state());
}

TEST(Rms, ScalesBy32768AndIgnoresATrailingByte) {
  EXPECT_EQ(rms({}), 0.0f);
  EXPECT_EQ(rms(PcmBytes{0x40}), 0.0f);
  EXPECT_FLOAT_EQ(rms(PcmBytes{0x00, 0x40, 0x00, 0xC0, 0x55}), 0.5f);  // +16384, -16384
}

}  // namespace
}  // namespace sorvane
