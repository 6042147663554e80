// The one WAV format the system reads and writes: 16-bit PCM, mono, with the canonical
// 44-byte header (RIFF, "fmt " of 16 bytes, "data"), all integers little-endian.
//
// `parseWAV` is lenient the way recorders need: it walks the chunks, skips unknown ones
// (with their pad byte), takes the last "data" chunk and cuts one that runs past the end
// of the file. Sizes and offsets are handled in 64 bits, so no declared size can make the
// walk wrap or loop. `encodeWAV` and `writeWAV` refuse data that does not fit the 32-bit
// length fields instead of writing a wrapped length. `writeWAV` replaces the target
// atomically (temporary file in the same folder, flushed, renamed; mode 0600), which
// is what the audio archive relies on.
//
// Pure functions apart from the two file functions, which block on the disk: call those
// from a queue that may wait (the archive queue, the WAV tool), never from the capture
// thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/pcm_bytes.h"

namespace sorvane {

struct WavRecord {
  int sampleRate = 16000;
  PcmBytes samples;  // little-endian signed 16-bit mono
};

// Errors of reading and writing. Format errors are in the domain "WavEnhanceRunner":
// code 1 "not a WAV file", 2 "expected PCM16 mono WAV", 3 "too large for a WAV file";
// file-system errors are in the domain "file" with the errno value as code.
struct WavError {
  std::string domain;
  int code = 0;
  std::string description;
};

inline constexpr std::string_view kWavErrorDomain = "WavEnhanceRunner";
inline constexpr int kWavNotWav = 1;
inline constexpr int kWavNotPcm16Mono = 2;
inline constexpr int kWavTooLarge = 3;

template <class T>
struct WavOutcome {
  std::optional<T> value;
  WavError error;  // meaningful when `value` is empty
  explicit operator bool() const { return value.has_value(); }
};

inline constexpr std::size_t kWavHeaderBytes = 44;
// The largest data length the header can describe (the RIFF length holds data + 36).
inline constexpr std::uint64_t kWavMaxDataBytes = 0xFFFFFFFFull - 36;

WavOutcome<WavRecord> parseWAV(std::span<const std::uint8_t> file);
WavOutcome<WavRecord> readWAV(const std::string& path);

// The 44-byte header for `dataLength` bytes of samples; empty when the length exceeds
// kWavMaxDataBytes or the rate is not a positive 32-bit value.
std::optional<std::array<std::uint8_t, kWavHeaderBytes>> wavHeader(int sampleRate, std::uint64_t dataLength);

WavOutcome<PcmBytes> encodeWAV(int sampleRate, std::span<const std::uint8_t> samples);
// Writes header and samples to `path` atomically; nothing on success.
std::optional<WavError> writeWAV(int sampleRate, std::span<const std::uint8_t> samples, const std::string& path);
inline std::optional<WavError> writeWAV(const WavRecord& record, const std::string& path) {
  return writeWAV(record.sampleRate, record.samples, path);
}

}  // namespace sorvane
