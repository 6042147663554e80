#include "audio/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/atomic_file.h"

namespace sorvane {
namespace {

constexpr std::uint64_t kMaxSampleRate = 0x7FFFFFFF;

WavError formatError(int code) {
  static constexpr const char* kDescriptions[] = {"", "not a WAV file", "expected PCM16 mono WAV",
                                                  "too large for a WAV file"};
  return WavError{std::string(kWavErrorDomain), code, kDescriptions[code]};
}

bool hasTag(std::span<const std::uint8_t> file, std::uint64_t at, const char (&tag)[5]) {
  return at + 4 <= file.size() && std::memcmp(file.data() + at, tag, 4) == 0;
}

// Little-endian unsigned of `width` bytes at `at`; bytes beyond the end read as 0.
std::uint32_t readLE(std::span<const std::uint8_t> file, std::uint64_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    if (at + i < file.size()) value |= static_cast<std::uint32_t>(file[at + i]) << (8 * i);
  }
  return value;
}

void putLE(std::uint8_t* at, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

WavOutcome<WavRecord> parseWAV(std::span<const std::uint8_t> file) {
  if (file.size() < kWavHeaderBytes || !hasTag(file, 0, "RIFF") || !hasTag(file, 8, "WAVE")) {
    return {std::nullopt, formatError(kWavNotWav)};
  }
  std::uint32_t format = 0, channels = 0, sampleRate = 0, bits = 0;
  std::uint64_t dataBegin = 0, dataEnd = 0;
  const std::uint64_t length = file.size();
  std::uint64_t offset = 12;
  while (offset + 8 <= length) {
    const std::uint64_t size = readLE(file, offset + 4, 4);
    const std::uint64_t body = offset + 8;
    if (hasTag(file, offset, "fmt ")) {
      format = readLE(file, body, 2);
      channels = readLE(file, body + 2, 2);
      sampleRate = readLE(file, body + 4, 4);
      bits = readLE(file, body + 14, 2);
    } else if (hasTag(file, offset, "data")) {
      dataBegin = body;
      dataEnd = std::min(body + size, length);
    }
    offset = body + size + (size & 1);
  }
  if (format != 1 || channels != 1 || bits != 16 || sampleRate == 0 || sampleRate > kMaxSampleRate ||
      dataEnd <= dataBegin) {
    return {std::nullopt, formatError(kWavNotPcm16Mono)};
  }
  WavRecord record;
  record.sampleRate = static_cast<int>(sampleRate);
  record.samples.assign(file.begin() + static_cast<std::ptrdiff_t>(dataBegin),
                        file.begin() + static_cast<std::ptrdiff_t>(dataEnd));
  return {std::move(record), {}};
}

WavOutcome<WavRecord> readWAV(const std::string& path) {
  auto fileError = [&](int error) {
    return WavOutcome<WavRecord>{std::nullopt, WavError{"file", error, "read " + path + ": " + std::strerror(error)}};
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"), &std::fclose);
  if (!file) return fileError(errno);
  PcmBytes bytes;
  std::uint8_t block[65536];
  for (;;) {
    const std::size_t n = std::fread(block, 1, sizeof block, file.get());
    bytes.insert(bytes.end(), block, block + n);
    if (n < sizeof block) break;
  }
  if (std::ferror(file.get())) return fileError(errno ? errno : EIO);
  return parseWAV(bytes);
}

std::optional<std::array<std::uint8_t, kWavHeaderBytes>> wavHeader(int sampleRate, std::uint64_t dataLength) {
  if (sampleRate < 1 || dataLength > kWavMaxDataBytes) return std::nullopt;
  std::array<std::uint8_t, kWavHeaderBytes> h{};
  const auto length = static_cast<std::uint32_t>(dataLength);
  const auto rate = static_cast<std::uint32_t>(sampleRate);
  std::memcpy(h.data(), "RIFF", 4);
  putLE(h.data() + 4, length + 36, 4);
  std::memcpy(h.data() + 8, "WAVE", 4);
  std::memcpy(h.data() + 12, "fmt ", 4);
  putLE(h.data() + 16, 16, 4);
  putLE(h.data() + 20, 1, 2);         // PCM
  putLE(h.data() + 22, 1, 2);         // mono
  putLE(h.data() + 24, rate, 4);
  putLE(h.data() + 28, rate * 2, 4);  // byte rate; fits, since rate <= 0x7FFFFFFF
  putLE(h.data() + 32, 2, 2);         // block align
  putLE(h.data() + 34, 16, 2);        // bits per sample
  std::memcpy(h.data() + 36, "data", 4);
  putLE(h.data() + 40, length, 4);
  return h;
}

WavOutcome<PcmBytes> encodeWAV(int sampleRate, std::span<const std::uint8_t> samples) {
  const auto header = wavHeader(sampleRate, samples.size());
  if (!header) return {std::nullopt, formatError(sampleRate < 1 ? kWavNotPcm16Mono : kWavTooLarge)};
  PcmBytes bytes;
  bytes.reserve(kWavHeaderBytes + samples.size());
  bytes.insert(bytes.end(), header->begin(), header->end());
  bytes.insert(bytes.end(), samples.begin(), samples.end());
  return {std::move(bytes), {}};
}

std::optional<WavError> writeWAV(int sampleRate, std::span<const std::uint8_t> samples, const std::string& path) {
  const auto encoded = encodeWAV(sampleRate, samples);
  if (!encoded) return encoded.error;
  const auto& bytes = *encoded.value;
  const std::string failure =
      writeFileAtomically(path, std::span<const char>(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!failure.empty()) return WavError{"file", EIO, failure};
  return std::nullopt;
}

}  // namespace sorvane
