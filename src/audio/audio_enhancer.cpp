#include "audio/audio_enhancer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sorvane {
namespace {

constexpr float kHighPassRC = 0.0018724111f;  // 1 / (2 pi 85 Hz), seconds
constexpr float kInputScale = 1.0f / 32768.0f;
constexpr float kOutputScale = 32767.0f;

constexpr float kSpeechFloorFactor = 2.05f;
constexpr float kSpeechThresholdMin = 0.009f;
constexpr float kHangoverMs = 680.0f;
constexpr int kHangoverMinChunks = 6;

constexpr float kFloorKeepSpeech = 0.996f;
constexpr float kFloorLearnSpeech = 0.004f;
constexpr float kFloorSpeechCap = 0.04f;
constexpr float kFloorRateHangover = 0.018f;
constexpr float kFloorRateSilence = 0.08f;

constexpr float kGainLevelTarget = 0.078f;
constexpr float kGainQuietLevel = 0.001f;
constexpr float kGainMin = 0.88f;
constexpr float kGainMaxSpeech = 2.45f;
constexpr float kGainMaxHangover = 1.85f;
constexpr float kGainNew = 0.2f;
constexpr float kGainOld = 0.8f;
constexpr float kGainRelaxKeep = 0.87f;
constexpr float kGainRelaxAdd = 0.039f;  // relaxes towards 0.3 in silence

constexpr float kWetSpeech = 0.34f;
constexpr float kWetHangover = 0.24f;
constexpr float kWetSilence = 0.58f;

constexpr float kGateFloorActive = 1.08f;
constexpr float kGateMinActive = 0.0038f;
constexpr float kGateFloorSilence = 2.25f;
constexpr float kGateMinSilence = 0.0075f;
constexpr float kGateBaseActive = 0.88f;
constexpr float kGateSlopeActive = 0.1f;
constexpr float kGateBaseSilence = 0.12f;
constexpr float kGateSlopeSilence = 0.24f;

constexpr float kClipLimit = 1.4f;
constexpr float kSoftClipKnee = 0.18f;

constexpr float kTailLoudInput = 0.006f;
constexpr float kTailTooQuiet = 0.58f;
constexpr float kTailTooLoud = 2.8f;
constexpr float kTailAudibleInput = 0.004f;
constexpr float kTailNearSilentInput = 0.0025f;
constexpr float kTailNearSilentOutput = 0.006f;

float gainTarget(float hpRMS, float maxGain) {
  if (hpRMS <= kGainQuietLevel) return maxGain;
  return std::clamp(kGainLevelTarget / hpRMS, kGainMin, maxGain);
}

std::int16_t readSample(const std::uint8_t* at) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | (at[1] << 8)));
}

void writeSample(std::uint8_t* at, std::int16_t value) {
  const auto bits = static_cast<std::uint16_t>(value);
  at[0] = static_cast<std::uint8_t>(bits & 0xFF);
  at[1] = static_cast<std::uint8_t>(bits >> 8);
}

}  // namespace

namespace enhancer_detail {

float softClip(float blended) {
  const float o = std::clamp(blended, -kClipLimit, kClipLimit);
  return o / (1.0f + kSoftClipKnee * std::fabs(o));
}

std::int16_t toLinear16(float shaped) {
  const float scaled = std::clamp(shaped * kOutputScale, -kOutputScale, kOutputScale);
  return static_cast<std::int16_t>(scaled);  // truncates toward zero
}

bool keepsInput(bool active, float inRMS, float outRMS) {
  const bool loudActive = active && inRMS > kTailLoudInput;
  return (loudActive && (outRMS < kTailTooQuiet * inRMS || outRMS > kTailTooLoud * inRMS)) ||
         (!loudActive && inRMS > kTailAudibleInput && outRMS > kTailTooLoud * inRMS) ||
         (inRMS < kTailNearSilentInput && outRMS > kTailNearSilentOutput);
}

}  // namespace enhancer_detail

PcmBytes AudioEnhancer::processLinear16(std::span<const std::uint8_t> bytes, int sampleRate) {
  PcmBytes out;
  processLinear16(bytes, sampleRate, out);
  return out;
}

void AudioEnhancer::processLinear16(std::span<const std::uint8_t> bytes, int sampleRate, PcmBytes& out) {
  out.assign(bytes.begin(), bytes.end());
  const std::size_t n = bytes.size() / 2;
  if (n < 1 || sampleRate < 1) return;

  AudioEnhancerState& s = state_;
  if (sampleRate != s.lastSampleRate) {
    s.previousInput = 0.0f;
    s.previousHighPass = 0.0f;
    s.speechHoldFrames = 0;
    s.lastSampleRate = sampleRate;
  }

  if (input_.size() < n) {
    input_.resize(n);
    highPassed_.resize(n);
    output_.resize(n);
  }
  float* x = input_.data();
  float* y = highPassed_.data();
  float* o = output_.data();

  const float alpha = kHighPassRC / (1.0f / static_cast<float>(sampleRate) + kHighPassRC);
  float sumY2 = 0.0f;
  float sumX2 = 0.0f;
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = static_cast<float>(readSample(bytes.data() + 2 * i)) * kInputScale;
    y[i] = alpha * (s.previousHighPass + x[i] - s.previousInput);
    s.previousInput = x[i];
    s.previousHighPass = y[i];
    sumY2 += y[i] * y[i];
    sumX2 += x[i] * x[i];
  }
  const float count = static_cast<float>(n);
  const float hpRMS = std::sqrt(sumY2 / count);

  float wet = 0.0f;
  float gate = 0.0f;
  bool active = false;
  if (hpRMS >= std::max(kSpeechFloorFactor * s.noiseFloorRMS, kSpeechThresholdMin)) {
    const float frameMs = std::max(count / static_cast<float>(sampleRate) * 1000.0f, 1.0f);
    s.speechHoldFrames =
        std::max({static_cast<int>(std::ceil(kHangoverMs / frameMs)), s.speechHoldFrames, kHangoverMinChunks});
    s.noiseFloorRMS = s.noiseFloorRMS * kFloorKeepSpeech + std::min(hpRMS, kFloorSpeechCap) * kFloorLearnSpeech;
    s.smoothedGain = gainTarget(hpRMS, kGainMaxSpeech) * kGainNew + s.smoothedGain * kGainOld;
    wet = kWetSpeech;
    gate = std::max(s.noiseFloorRMS * kGateFloorActive, kGateMinActive);
    active = true;
  } else {
    const int h = s.speechHoldFrames - 1;
    s.speechHoldFrames = std::max(h, 0);
    const float a = h > 0 ? kFloorRateHangover : kFloorRateSilence;
    s.noiseFloorRMS = hpRMS * a + s.noiseFloorRMS * (1.0f - a);
    if (h > 0) {
      s.smoothedGain = gainTarget(hpRMS, kGainMaxHangover) * kGainNew + s.smoothedGain * kGainOld;
      wet = kWetHangover;
      gate = std::max(s.noiseFloorRMS * kGateFloorActive, kGateMinActive);
      active = true;
    } else {
      s.smoothedGain = s.smoothedGain * kGainRelaxKeep + kGainRelaxAdd;
      wet = kWetSilence;
      gate = std::max(s.noiseFloorRMS * kGateFloorSilence, kGateMinSilence);
      active = false;
    }
  }

  const float g = s.smoothedGain;
  float sumO2 = 0.0f;
  for (std::size_t i = 0; i < n; ++i) {
    float p = g * y[i];
    const float level = std::fabs(y[i]);
    if (level < gate) {
      const float r = std::min(level / gate, 1.0f);
      p *= active ? (kGateBaseActive + kGateSlopeActive * r) : (kGateBaseSilence + kGateSlopeSilence * r);
    }
    o[i] = enhancer_detail::softClip(wet * p + (1.0f - wet) * x[i]);
    sumO2 += o[i] * o[i];
  }

  const float inRMS = std::sqrt(sumX2 / count);
  const float outRMS = std::sqrt(sumO2 / count);
  if (enhancer_detail::keepsInput(active, inRMS, outRMS)) return;

  for (std::size_t i = 0; i < n; ++i) writeSample(out.data() + 2 * i, enhancer_detail::toLinear16(o[i]));
}

float rms(std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size() / 2;
  if (n == 0) return 0.0f;
  float sum = 0.0f;
  for (std::size_t i = 0; i < n; ++i) {
    const float v = static_cast<float>(readSample(bytes.data() + 2 * i)) * kInputScale;
    sum += v * v;
  }
  return std::sqrt(sum / static_cast<float>(n));
}

}  // namespace sorvane
