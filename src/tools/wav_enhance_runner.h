// The "--enhance-wav" tool: runs a 16-bit mono WAV file through a fresh speech enhancer
// in fixed-size chunks, the way live capture feeds it, and writes the result as a new
// WAV file at the input's rate.
//
//   Sorvane --enhance-wav input.wav --out output.wav [--chunk-ms 64]
//
// The chunk length is a decimal integer of milliseconds with an optional sign and
// nothing else around it (missing or unparsable: 64), then at least 10. Exit status: 0
// done, 1 processing failure ("enhance-wav failed: <description>" on `err`), 2 usage.
// Synchronous; runs on the main thread of the tool mode and blocks for the files.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "audio/pcm_bytes.h"

namespace sorvane {

struct WavRecord;

inline constexpr std::string_view kEnhanceWavUsage =
    "Usage: Sorvane --enhance-wav input.wav --out output.wav [--chunk-ms 64]\n";
inline constexpr int64_t kDefaultEnhanceChunkMs = 64;
inline constexpr int64_t kMinEnhanceChunkMs = 10;

class WavEnhanceRunner {
 public:
  static int run(std::span<const std::string> arguments, std::ostream& err);

  // The argument after the first occurrence of `flag`; nothing when absent or last.
  static std::optional<std::string> value(std::string_view flag, std::span<const std::string> arguments);
  // The chunk length the arguments ask for, after the default and the minimum.
  static int64_t chunkMs(std::span<const std::string> arguments);
  // Bytes per chunk: whole 16-bit samples of `chunkMs` at `sampleRate`, at least one.
  static std::size_t chunkBytes(int sampleRate, int64_t chunkMs);
  // The record's samples through a fresh enhancer in chunks of `chunkBytes`; a final odd
  // byte is dropped.
  static PcmBytes enhance(const WavRecord& record, int64_t chunkMs);
};

}  // namespace sorvane
