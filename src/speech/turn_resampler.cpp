#include "speech/turn_resampler.h"

#include <soxr.h>

#include "speech/linear16_conversion.h"

namespace sorvane {

TurnResampler::TurnResampler(double sourceRate, double targetRate)
    : sourceRate_(sourceRate), targetRate_(targetRate), passThrough_(!needsResampling(sourceRate, targetRate)) {
  if (passThrough_) return;
  if (!(sourceRate > 0) || !(targetRate > 0)) {
    creationError_ = "invalid sample rate";
    return;
  }
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_ = soxr_create(sourceRate, targetRate, 1, &error, &io, &quality, nullptr);
  if (error || !soxr_) {
    creationError_ = error ? error : "soxr unavailable";
    if (soxr_) soxr_delete(soxr_);
    soxr_ = nullptr;
  }
}

TurnResampler::~TurnResampler() {
  if (soxr_) soxr_delete(soxr_);
}

std::optional<std::string> TurnResampler::process(std::span<const float> mono, std::vector<float>& out) {
  if (!soxr_ || drained_) {
    out.insert(out.end(), mono.begin(), mono.end());
    return std::nullopt;
  }
  const std::size_t start = out.size();
  out.resize(start + resampleCapacity(mono.size(), sourceRate_, targetRate_));
  std::size_t consumed = 0;
  std::size_t produced = 0;
  soxr_error_t error = soxr_process(soxr_, mono.data(), mono.size(), &consumed, out.data() + start,
                                    out.size() - start, &produced);
  out.resize(start + (error ? 0 : produced));
  if (error) return std::string(error);
  return std::nullopt;
}

std::optional<std::string> TurnResampler::drain(std::vector<float>& out) {
  if (!soxr_ || drained_) return std::nullopt;
  drained_ = true;
  for (;;) {
    const std::size_t start = out.size();
    out.resize(start + 256);
    std::size_t produced = 0;
    soxr_error_t error = soxr_process(soxr_, nullptr, 0, nullptr, out.data() + start, 256, &produced);
    out.resize(start + (error ? 0 : produced));
    if (error) return std::string(error);
    if (produced == 0) return std::nullopt;
  }
}

}  // namespace sorvane
