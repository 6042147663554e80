#include "audio/wav_file.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace sorvane {
namespace {

void put(PcmBytes& out, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
void tag(PcmBytes& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

// One chunk: identifier, declared size (the body's unless given), body, pad byte.
void chunk(PcmBytes& out, const char* id, const PcmBytes& body, std::optional<std::uint32_t> declared = {}) {
  tag(out, id);
  put(out, declared.value_or(static_cast<std::uint32_t>(body.size())), 4);
  out.insert(out.end(), body.begin(), body.end());
  if (!declared && body.size() % 2 == 1) out.push_back(0);
}

PcmBytes fmtBody(std::uint32_t format, std::uint32_t channels, std::uint32_t rate, std::uint32_t bits) {
  PcmBytes b;
  put(b, format, 2);
  put(b, channels, 2);
  put(b, rate, 4);
  put(b, rate * channels * bits / 8, 4);
  put(b, channels * bits / 8, 2);
  put(b, bits, 2);
  return b;
}

PcmBytes riff(const PcmBytes& chunks) {
  PcmBytes out;
  tag(out, "RIFF");
  put(out, static_cast<std::uint32_t>(chunks.size() + 4), 4);
  tag(out, "WAVE");
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

const PcmBytes kSamples{0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF};

PcmBytes plainWav(const PcmBytes& fmt = fmtBody(1, 1, 16000, 16)) {
  PcmBytes c;
  chunk(c, "fmt ", fmt);
  chunk(c, "data", kSamples);
  return riff(c);
}

TEST(WavFile, EncodesTheCanonicalHeaderAndReadsItBack) {
  const auto encoded = encodeWAV(16000, kSamples);
  ASSERT_TRUE(encoded);
  const PcmBytes expected = plainWav();
  EXPECT_EQ(*encoded.value, expected);
  const auto parsed = parseWAV(*encoded.value);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed.value->sampleRate, 16000);
  EXPECT_EQ(parsed.value->samples, kSamples);
}

TEST(WavFile, HeaderLengthsStopAtWhatThe32BitFieldsHold) {
  const auto largest = wavHeader(16000, kWavMaxDataBytes);
  ASSERT_TRUE(largest);
  EXPECT_EQ(std::memcmp(largest->data() + 4, "\xFF\xFF\xFF\xFF", 4), 0);
  EXPECT_EQ(std::memcmp(largest->data() + 40, "\xDB\xFF\xFF\xFF", 4), 0);
  EXPECT_FALSE(wavHeader(16000, kWavMaxDataBytes + 1));
  EXPECT_FALSE(wavHeader(16000, 5ull << 30));  // would wrap to 1 GiB
  EXPECT_FALSE(wavHeader(0, 2));
  const auto fastest = wavHeader(0x7FFFFFFF, 2);
  ASSERT_TRUE(fastest);
  EXPECT_EQ(std::memcmp(fastest->data() + 28, "\xFE\xFF\xFF\xFF", 4), 0);
  EXPECT_EQ(encodeWAV(0, kSamples).error.code, kWavNotPcm16Mono);
}

TEST(WavFile, WritesAtomicallyWithPrivateModeAndReplacesAnOldFile) {
  testing::TempDir dir;
  const std::string path = dir.file("turn.wav");
  dir.write("turn.wav", "old content");
  ASSERT_FALSE(writeWAV(WavRecord{22050, kSamples}, path));
  const auto read = readWAV(path);
  ASSERT_TRUE(read);
  EXPECT_EQ(read.value->sampleRate, 22050);
  EXPECT_EQ(read.value->samples, kSamples);
  struct stat info{};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1) << "no temporary file is left behind";
}

TEST(WavFile, FileErrorsAreReportedNotThrown) {
  testing::TempDir dir;
  const auto missing = readWAV(dir.file("absent.wav"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error.domain, "file");
  EXPECT_NE(missing.error.description.find("absent.wav"), std::string::npos);
  const auto unwritable = writeWAV(WavRecord{16000, kSamples}, dir.file("no/such/folder/x.wav"));
  ASSERT_TRUE(unwritable);
  EXPECT_EQ(unwritable->domain, "file");
}

TEST(WavFile, MalformedFilesAreRefusedWithTheirCode) {
  struct Case {
    const char* name;
    PcmBytes file;
    int code;
  };
  PcmBytes noRiff = plainWav();
  std::memcpy(noRiff.data(), "RIFX", 4);
  PcmBytes noWave = plainWav();
  std::memcpy(noWave.data() + 8, "AVI ", 4);
  PcmBytes noData;
  chunk(noData, "fmt ", fmtBody(1, 1, 16000, 16));
  chunk(noData, "LIST", PcmBytes(20, 0));
  PcmBytes emptyData;
  chunk(emptyData, "fmt ", fmtBody(1, 1, 16000, 16));
  chunk(emptyData, "data", {});
  chunk(emptyData, "pad ", PcmBytes(8, 0));
  PcmBytes noFmt;
  chunk(noFmt, "data", PcmBytes(40, 1));
  PcmBytes shortFmtAtEnd;  // the format fields past the end of the file read as 0
  chunk(shortFmtAtEnd, "data", PcmBytes(40, 1));
  chunk(shortFmtAtEnd, "fmt ", {0x01, 0x00, 0x01, 0x00}, 16);
  PcmBytes shortFile = plainWav();
  shortFile.resize(43);
  const Case cases[] = {
      {"shorter than 44 bytes", shortFile, kWavNotWav},
      {"empty", {}, kWavNotWav},
      {"not RIFF", noRiff, kWavNotWav},
      {"not WAVE", noWave, kWavNotWav},
      {"stereo", plainWav(fmtBody(1, 2, 16000, 16)), kWavNotPcm16Mono},
      {"8-bit", plainWav(fmtBody(1, 1, 16000, 8)), kWavNotPcm16Mono},
      {"float", plainWav(fmtBody(3, 1, 16000, 32)), kWavNotPcm16Mono},
      {"compressed", plainWav(fmtBody(2, 1, 16000, 4)), kWavNotPcm16Mono},
      {"rate 0", plainWav(fmtBody(1, 1, 0, 16)), kWavNotPcm16Mono},
      {"rate above 0x7FFFFFFF", plainWav(fmtBody(1, 1, 0x80000000u, 16)), kWavNotPcm16Mono},
      {"no data chunk", riff(noData), kWavNotPcm16Mono},
      {"empty data chunk", riff(emptyData), kWavNotPcm16Mono},
      {"no fmt chunk", riff(noFmt), kWavNotPcm16Mono},
      {"fmt cut by the end of the file", riff(shortFmtAtEnd), kWavNotPcm16Mono},
  };
  for (const Case& c : cases) {
    const auto parsed = parseWAV(c.file);
    ASSERT_FALSE(parsed) << c.name;
    EXPECT_EQ(parsed.error.domain, kWavErrorDomain) << c.name;
    EXPECT_EQ(parsed.error.code, c.code) << c.name;
    EXPECT_EQ(parsed.error.description, c.code == kWavNotWav ? "not a WAV file" : "expected PCM16 mono WAV") << c.name;
  }
}

TEST(WavFile, ChunkWalkSkipsPadsCutsOverlongDataAndNeverLoops) {
  struct Case {
    const char* name;
    PcmBytes chunks;
    PcmBytes samples;
  };
  const PcmBytes fmt = fmtBody(1, 1, 16000, 16);
  PcmBytes oddBefore;  // an odd-sized chunk and its pad byte come before "data"
  chunk(oddBefore, "fmt ", fmt);
  chunk(oddBefore, "LIST", {1, 2, 3});
  chunk(oddBefore, "data", kSamples);
  PcmBytes overlong;
  chunk(overlong, "fmt ", fmt);
  chunk(overlong, "data", kSamples, 1000);
  PcmBytes hugeAfter;  // a size that wraps a 32-bit offset back into the file
  chunk(hugeAfter, "fmt ", fmt);
  chunk(hugeAfter, "data", kSamples);
  chunk(hugeAfter, "junk", PcmBytes(8, 0), 0xFFFFFFF7u);
  PcmBytes hugeData;
  chunk(hugeData, "fmt ", fmt);
  chunk(hugeData, "data", kSamples, 0xFFFFFFF7u);
  PcmBytes twoData;  // the later data chunk wins
  chunk(twoData, "data", {9, 9});
  chunk(twoData, "fmt ", fmt);
  chunk(twoData, "data", kSamples);
  PcmBytes longFmt;  // a format chunk with an extension
  PcmBytes extended = fmt;
  extended.insert(extended.end(), {2, 0, 0, 0});
  chunk(longFmt, "fmt ", extended);
  chunk(longFmt, "data", kSamples);
  const Case cases[] = {
      {"odd chunk before data", oddBefore, kSamples},
      {"data past the end", overlong, kSamples},
      {"huge chunk after data", hugeAfter, kSamples},
      {"huge data chunk", hugeData, kSamples},
      {"second data chunk", twoData, kSamples},
      {"extended fmt", longFmt, kSamples},
  };
  for (const Case& c : cases) {
    const auto parsed = parseWAV(riff(c.chunks));
    ASSERT_TRUE(parsed) << c.name << ": " << parsed.error.description;
    EXPECT_EQ(parsed.value->samples, c.samples) << c.name;
  }
}

}  // namespace
}  // namespace sorvane
