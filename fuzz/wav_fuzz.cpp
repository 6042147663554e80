// Arbitrary bytes as a WAV file: reading must not crash, hang or read out of bounds, and
// whatever it accepts must survive being written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "audio/wav_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parsed = sorvane::parseWAV(std::span(data, size));
  if (!parsed) {
    if (parsed.error.code != sorvane::kWavNotWav && parsed.error.code != sorvane::kWavNotPcm16Mono) std::abort();
    return 0;
  }
  const sorvane::WavRecord& record = *parsed.value;
  if (record.sampleRate < 1 || record.samples.empty() || record.samples.size() > size) std::abort();
  const auto encoded = sorvane::encodeWAV(record.sampleRate, record.samples);
  if (!encoded) std::abort();
  const auto again = sorvane::parseWAV(*encoded.value);
  if (!again || again.value->sampleRate != record.sampleRate || again.value->samples != record.samples) std::abort();
  return 0;
}
