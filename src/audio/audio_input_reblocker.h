// Cuts whatever a sound server delivers into buffers of exactly `kCaptureBufferFrames`
// frames and stamps each with the capture time of its first frame.
//
// Capture times come from a frame counter: the first delivered frame is anchored once
// (the adapter passes the wall time at which it was captured, from the stream's latency
// and the clock); every later buffer starts exactly frames / rate after it, so buffers
// are contiguous and their times never jitter with the server's wake-ups. Pure; used on
// the adapter's capture thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "audio/audio_input.h"

namespace sorvane {

class AudioInputReblocker {
 public:
  AudioInputReblocker(double sampleRate, int channels, std::size_t blockFrames = kCaptureBufferFrames);

  bool isAnchored() const { return anchorWallMs_.has_value(); }
  // The wall time of the next frame `push` will receive; set once per stream.
  void anchor(double firstFrameWallMs);
  // Appends `frames` interleaved frames and calls `emit` for every completed block.
  // Frames pushed before `anchor` are stamped as if anchored at 0.
  void push(const float* interleaved, std::size_t frames, const std::function<void(const CapturedAudio&)>& emit);
  std::size_t pendingFrames() const { return fill_; }
  std::size_t emittedBlocks() const { return emitted_; }

 private:
  double sampleRate_;
  int channels_;
  std::size_t blockFrames_;
  std::vector<float> block_;
  std::size_t fill_ = 0;
  std::size_t emitted_ = 0;
  std::optional<double> anchorWallMs_;
};

}  // namespace sorvane
