#include "tools/wav_enhance_runner.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "audio/audio_enhancer.h"
#include "audio/wav_file.h"

namespace sorvane {
namespace {

// Optional sign, then digits only; nothing when anything else is there or it overflows.
std::optional<int64_t> parseDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::optional<std::string> WavEnhanceRunner::value(std::string_view flag, std::span<const std::string> arguments) {
  const auto it = std::find(arguments.begin(), arguments.end(), flag);
  if (it == arguments.end() || it + 1 == arguments.end()) return std::nullopt;
  return *(it + 1);
}

int64_t WavEnhanceRunner::chunkMs(std::span<const std::string> arguments) {
  const auto text = value("--chunk-ms", arguments);
  const int64_t parsed = text ? parseDecimal(*text).value_or(kDefaultEnhanceChunkMs) : kDefaultEnhanceChunkMs;
  return std::max(parsed, kMinEnhanceChunkMs);
}

std::size_t WavEnhanceRunner::chunkBytes(int sampleRate, int64_t chunkMs) {
  // In 128 bits: a chunk length of 10^15 ms must not wrap.
  const __int128 product = static_cast<__int128>(sampleRate) * chunkMs;
  const __int128 bytes = product / 1000 * 2;
  if (product < 1000 || bytes < 2) return 2;
  constexpr __int128 kLargest = static_cast<__int128>(SIZE_MAX / 2) * 2;
  return static_cast<std::size_t>(std::min(bytes, kLargest));
}

PcmBytes WavEnhanceRunner::enhance(const WavRecord& record, int64_t chunkMs) {
  const std::size_t step = chunkBytes(record.sampleRate, chunkMs);
  const std::size_t length = record.samples.size() & ~std::size_t{1};
  AudioEnhancer enhancer;
  PcmBytes output;
  output.reserve(length);
  PcmBytes chunk;
  for (std::size_t offset = 0; offset < length;) {
    const std::size_t end = offset + std::min(step, length - offset);
    enhancer.processLinear16(std::span(record.samples).subspan(offset, end - offset), record.sampleRate, chunk);
    output.insert(output.end(), chunk.begin(), chunk.end());
    offset = end;
  }
  return output;
}

int WavEnhanceRunner::run(std::span<const std::string> arguments, std::ostream& err) {
  const auto input = value("--enhance-wav", arguments);
  const auto output = value("--out", arguments);
  if (!input || !output) {
    err << kEnhanceWavUsage;
    return 2;
  }
  auto fail = [&](const std::string& description) {
    err << "enhance-wav failed: " << description << "\n";
    return 1;
  };
  const auto read = readWAV(*input);
  if (!read) return fail(read.error.description);
  const PcmBytes enhanced = enhance(*read.value, chunkMs(arguments));
  const std::filesystem::path parent = std::filesystem::path(*output).parent_path();
  if (!parent.empty()) {
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    if (error) return fail("create " + parent.string() + ": " + error.message());
  }
  if (const auto written = writeWAV(read.value->sampleRate, enhanced, *output)) return fail(written->description);
  return 0;
}

}  // namespace sorvane
