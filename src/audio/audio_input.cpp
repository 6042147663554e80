#include "audio/audio_input.h"

#include <algorithm>
#include <cstring>

#include "audio/audio_input_reblocker.h"

namespace sorvane {

std::string_view audioInputErrorKindName(AudioInputErrorKind kind) {
  switch (kind) {
    case AudioInputErrorKind::noServer: return "no-server";
    case AudioInputErrorKind::noSource: return "no-source";
    case AudioInputErrorKind::sourceVanished: return "source-vanished";
    case AudioInputErrorKind::failed: break;
  }
  return "failed";
}

AudioInputReblocker::AudioInputReblocker(double sampleRate, int channels, std::size_t blockFrames)
    : sampleRate_(std::max(sampleRate, 1.0)),
      channels_(std::max(channels, 1)),
      blockFrames_(std::max<std::size_t>(blockFrames, 1)),
      block_(blockFrames_ * static_cast<std::size_t>(channels_)) {}

void AudioInputReblocker::anchor(double firstFrameWallMs) {
  if (anchorWallMs_) return;
  // The frames already waiting in the block were captured just before this one.
  anchorWallMs_ = firstFrameWallMs - static_cast<double>(fill_) * 1000.0 / sampleRate_;
}

void AudioInputReblocker::push(const float* interleaved, std::size_t frames,
                               const std::function<void(const CapturedAudio&)>& emit) {
  const auto ch = static_cast<std::size_t>(channels_);
  while (frames > 0) {
    const std::size_t take = std::min(frames, blockFrames_ - fill_);
    std::memcpy(block_.data() + fill_ * ch, interleaved, take * ch * sizeof(float));
    fill_ += take;
    interleaved += take * ch;
    frames -= take;
    if (fill_ < blockFrames_) break;
    CapturedAudio audio;
    audio.interleaved = block_;
    audio.frames = blockFrames_;
    audio.channels = channels_;
    audio.sampleRate = sampleRate_;
    audio.firstSampleWallMs = anchorWallMs_.value_or(0.0) +
                              static_cast<double>(emitted_ * blockFrames_) * 1000.0 / sampleRate_;
    ++emitted_;
    fill_ = 0;
    emit(audio);
  }
}

}  // namespace sorvane
