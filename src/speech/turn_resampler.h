// One turn's sample-rate converter from the source's rate to the recogniser rate, over
// libsoxr.
//
// A single converter lives for the whole turn and carries its filter state from buffer
// to buffer: converting each buffer on its own would click at every buffer edge and lose
// the fractional frames. `drain` at the stop releases what the filter still holds, so per
// turn the output has input × target / source frames (within a few frames). Mono in,
// mono out (the caller averages channels first). Used on the capture thread only.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

struct soxr;

namespace sorvane {

class TurnResampler {
 public:
  TurnResampler(double sourceRate, double targetRate);
  ~TurnResampler();
  TurnResampler(const TurnResampler&) = delete;
  TurnResampler& operator=(const TurnResampler&) = delete;

  // Within 1 Hz of the target: samples pass through unchanged.
  bool isPassThrough() const { return passThrough_; }
  // The converter could not be created (the description says why); samples then pass
  // through unchanged.
  const std::optional<std::string>& creationError() const { return creationError_; }
  double sourceRate() const { return sourceRate_; }
  double targetRate() const { return targetRate_; }

  // Appends the converted samples of `mono` to `out`; an error description when the
  // converter failed (nothing is appended then).
  std::optional<std::string> process(std::span<const float> mono, std::vector<float>& out);
  // Appends what the filter still holds; afterwards the converter takes no more input.
  std::optional<std::string> drain(std::vector<float>& out);

 private:
  double sourceRate_;
  double targetRate_;
  bool passThrough_;
  bool drained_ = false;
  soxr* soxr_ = nullptr;
  std::optional<std::string> creationError_;
};

}  // namespace sorvane
