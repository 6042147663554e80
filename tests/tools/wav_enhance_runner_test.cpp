#include "tools/wav_enhance_runner.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_enhancer.h"
#include "audio/wav_file.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using Args = std::vector<std::string>;

// Real speech: espeak-ng's voice, converted to the 16 kHz mono 16-bit the archive uses.
class SpeechWav : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir;
    const std::string command = "espeak-ng -w '" + dir_->file("raw.wav") +
                                "' 'Please do not swallow the last few words of this sentence.' && sox '" +
                                dir_->file("raw.wav") + "' -r 16000 -c 1 -b 16 -e signed-integer '" +
                                dir_->file("speech.wav") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << "espeak-ng and sox are installed by scripts/setup.sh";
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string speech() { return dir_->file("speech.wav"); }
  static std::string out(const std::string& name) { return dir_->file(name); }

  int run(const Args& arguments) {
    err.str("");
    return WavEnhanceRunner::run(arguments, err);
  }

  // The input's samples through a fresh enhancer in chunks of exactly `bytes`.
  static PcmBytes enhancedInChunks(const WavRecord& record, std::size_t bytes) {
    AudioEnhancer enhancer;
    PcmBytes result;
    for (std::size_t offset = 0; offset + 1 < record.samples.size(); offset += bytes) {
      const std::size_t n = std::min(bytes, (record.samples.size() - offset) & ~std::size_t{1});
      const PcmBytes chunk = enhancer.processLinear16(std::span(record.samples).subspan(offset, n), record.sampleRate);
      result.insert(result.end(), chunk.begin(), chunk.end());
    }
    return result;
  }

  std::ostringstream err;
  static testing::TempDir* dir_;
};

testing::TempDir* SpeechWav::dir_ = nullptr;

TEST_F(SpeechWav, ChunkLengthDecidesHowTheEnhancerIsFed) {
  const auto input = readWAV(speech());
  ASSERT_TRUE(input) << input.error.description;
  ASSERT_EQ(input.value->sampleRate, 16000);
  struct Case {
    Args extra;
    std::size_t chunkBytes;
  };
  const Case cases[] = {
      {{}, 2048},
      {{"--chunk-ms", "5"}, 320},
      {{"--chunk-ms", "abc"}, 2048},
      {{"--chunk-ms", "100"}, 3200},
  };
  for (const Case& c : cases) {
    Args arguments{"--enhance-wav", speech(), "--out", out("enhanced.wav")};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(run(arguments), 0) << err.str();
    const auto result = readWAV(out("enhanced.wav"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result.value->sampleRate, 16000);
    EXPECT_EQ(result.value->samples, enhancedInChunks(*input.value, c.chunkBytes)) << c.chunkBytes << "-byte chunks";
  }
  // Chunking matters (the hangover and the gain move per chunk), so the comparison above
  // could tell 2048-byte chunks from others.
  EXPECT_NE(enhancedInChunks(*input.value, 2048), enhancedInChunks(*input.value, 4096));
  EXPECT_NE(enhancedInChunks(*input.value, 2048), input.value->samples);
}

TEST_F(SpeechWav, OutputHeaderLengthsFollowTheEvenDataLengthAndFoldersAreCreated) {
  auto input = readWAV(speech());
  ASSERT_TRUE(input);
  input.value->samples.push_back(0x11);  // an odd data length
  ASSERT_FALSE(writeWAV(*input.value, out("odd.wav")));
  const std::string target = out("nested/deeper/odd-enhanced.wav");
  ASSERT_EQ(run({"--chunk-ms", "20", "--out", target, "--enhance-wav", out("odd.wav")}), 0) << err.str();
  const auto bytes = readWAV(target);
  ASSERT_TRUE(bytes);
  const std::size_t even = input.value->samples.size() - 1;
  EXPECT_EQ(bytes.value->samples.size(), even);
  const auto header = wavHeader(16000, even);
  const auto encoded = encodeWAV(16000, bytes.value->samples);
  ASSERT_TRUE(header && encoded);
  EXPECT_TRUE(std::equal(header->begin(), header->end(), encoded.value->begin()));
}

TEST_F(SpeechWav, EspeakOwnOutputAt22050HzIsReadToo) {
  ASSERT_EQ(run({"--enhance-wav", out("raw.wav"), "--out", out("raw-enhanced.wav")}), 0) << err.str();
  const auto result = readWAV(out("raw-enhanced.wav"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result.value->sampleRate, 22050);
}

TEST_F(SpeechWav, UsageAndFailuresHaveTheirExitCodesAndTexts) {
  struct Case {
    Args arguments;
    int status;
    std::string message;
  };
  testing::TempDir dir;
  dir.write("short.wav", "RIFF");
  PcmBytes stereo = *encodeWAV(16000, PcmBytes(64, 1)).value;
  stereo[22] = 2;
  dir.write("stereo.wav", std::string(stereo.begin(), stereo.end()));
  const std::string usage(kEnhanceWavUsage);
  const Case cases[] = {
      {{}, 2, usage},
      {{"--enhance-wav", speech()}, 2, usage},
      {{"--out", dir.file("x.wav"), "--enhance-wav"}, 2, usage},
      {{"--enhance-wav", dir.file("short.wav"), "--out", dir.file("x.wav")}, 1, "enhance-wav failed: not a WAV file\n"},
      {{"--enhance-wav", dir.file("stereo.wav"), "--out", dir.file("x.wav")},
       1,
       "enhance-wav failed: expected PCM16 mono WAV\n"},
      {{"--enhance-wav", dir.file("absent.wav"), "--out", dir.file("x.wav")},
       1,
       "enhance-wav failed: read " + dir.file("absent.wav") + ": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.arguments), c.status);
    EXPECT_EQ(err.str(), c.message);
  }
  dir.write("file", "x");
  EXPECT_EQ(run({"--enhance-wav", speech(), "--out", dir.file("file/sub/x.wav")}), 1);
  EXPECT_EQ(err.str().rfind("enhance-wav failed: ", 0), 0u) << err.str();
}

TEST(WavEnhanceRunner, ChunkMsParsing) {
  struct Case {
    std::vector<std::string> value;  // empty: flag absent
    int64_t chunkMs;
  };
  const Case cases[] = {
      {{}, 64},
      {{"64"}, 64},
      {{"5"}, 10},
      {{"+5"}, 10},
      {{"-5"}, 10},
      {{"250"}, 250},
      {{"+250"}, 250},
      {{"abc"}, 64},
      {{"5abc"}, 64},
      {{" 5"}, 64},
      {{"5 "}, 64},
      {{"+"}, 64},
      {{""}, 64},
      {{"12345678901234567890"}, 64},
      {{"1000000000000000"}, 1'000'000'000'000'000},
  };
  for (const Case& c : cases) {
    Args arguments{"--enhance-wav", "in.wav"};
    if (!c.value.empty()) arguments.insert(arguments.end(), {"--chunk-ms", c.value[0]});
    EXPECT_EQ(WavEnhanceRunner::chunkMs(arguments), c.chunkMs) << (c.value.empty() ? "(absent)" : c.value[0]);
  }
  EXPECT_EQ(WavEnhanceRunner::chunkMs(Args{"--chunk-ms"}), 64);  // flag last
}

TEST(WavEnhanceRunner, ChunkBytesAreWholeSamplesAndNeverOverflow) {
  struct Case {
    int sampleRate;
    int64_t chunkMs;
    std::size_t bytes;
  };
  const Case cases[] = {
      {16000, 64, 2048},
      {16000, 10, 320},
      {22050, 64, 2822},
      {1, 10, 2},
      {50, 10, 2},
      {16000, 1'000'000'000'000'000, 32'000'000'000'000'000},
  };
  for (const Case& c : cases) EXPECT_EQ(WavEnhanceRunner::chunkBytes(c.sampleRate, c.chunkMs), c.bytes);
  EXPECT_EQ(WavEnhanceRunner::chunkBytes(0x7FFFFFFF, 1'000'000'000'000'000) % 2, 0u);
  // Chunks larger than the file are one chunk: the whole file through one call.
  WavRecord record{16000, PcmBytes(3201, 0)};
  EXPECT_EQ(WavEnhanceRunner::enhance(record, 1'000'000'000'000'000).size(), 3200u);
}

}  // namespace
}  // namespace sorvane
