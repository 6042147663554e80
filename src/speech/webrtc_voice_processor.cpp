#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "speech/voice_processor.h"

namespace sorvane {
namespace {

class WebRtcVoiceProcessor final : public VoiceProcessor {
 public:
  WebRtcVoiceProcessor(webrtc::AudioProcessing* apm, int sampleRate, int channels)
      : apm_(apm),
        config_(sampleRate, channels),
        channels_(static_cast<std::size_t>(channels)),
        blockFrames_(config_.num_frames()),
        planar_(channels_, std::vector<float>(blockFrames_)),
        pointers_(channels_) {
    for (std::size_t c = 0; c < channels_; ++c) pointers_[c] = planar_[c].data();
    // One block of silence primes the output so every call can return what it was given.
    output_.assign(blockFrames_ * channels_, 0.0f);
  }

  void process(std::span<float> interleaved) override {
    input_.insert(input_.end(), interleaved.begin(), interleaved.end());
    const std::size_t blockSamples = blockFrames_ * channels_;
    while (input_.size() >= blockSamples) {
      for (std::size_t f = 0; f < blockFrames_; ++f) {
        for (std::size_t c = 0; c < channels_; ++c) planar_[c][f] = input_[f * channels_ + c];
      }
      input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(blockSamples));
      // A failed block passes through as it came.
      apm_->ProcessStream(pointers_.data(), config_, config_, pointers_.data());
      for (std::size_t f = 0; f < blockFrames_; ++f) {
        for (std::size_t c = 0; c < channels_; ++c) output_.push_back(planar_[c][f]);
      }
    }
    const std::size_t take = std::min(interleaved.size(), output_.size());
    std::copy(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(take), interleaved.begin());
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(take));
  }

  std::size_t latencyFrames() const override { return blockFrames_; }

 private:
  std::unique_ptr<webrtc::AudioProcessing> apm_;
  webrtc::StreamConfig config_;
  std::size_t channels_;
  std::size_t blockFrames_;
  std::vector<std::vector<float>> planar_;
  std::vector<float*> pointers_;
  std::vector<float> input_;
  std::vector<float> output_;
};

}  // namespace

std::unique_ptr<VoiceProcessor> makeWebRtcVoiceProcessor(int sampleRate, int channels, std::string& error) {
  if (sampleRate < 8000 || channels < 1) {
    error = "unsupported stream format";
    return nullptr;
  }
  webrtc::AudioProcessing* apm = webrtc::AudioProcessing::Create();
  if (!apm) {
    error = "webrtc audio processing unavailable";
    return nullptr;
  }
  bool ok = apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh) == webrtc::AudioProcessing::kNoError;
  ok = ok && apm->noise_suppression()->Enable(true) == webrtc::AudioProcessing::kNoError;
  ok = ok && apm->gain_control()->set_mode(webrtc::GainControl::kAdaptiveDigital) == webrtc::AudioProcessing::kNoError;
  ok = ok && apm->gain_control()->Enable(true) == webrtc::AudioProcessing::kNoError;
  const webrtc::StreamConfig config(sampleRate, channels);
  const webrtc::ProcessingConfig processing = {{config, config, config, config}};
  ok = ok && apm->Initialize(processing) == webrtc::AudioProcessing::kNoError;
  if (!ok) {
    delete apm;
    error = "webrtc audio processing rejected the stream format";
    return nullptr;
  }
  return std::make_unique<WebRtcVoiceProcessor>(apm, sampleRate, channels);
}

}  // namespace sorvane
