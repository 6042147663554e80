// The capture engine in virtual time, over a scripted microphone and recognisers: provider
// choice, the stop's cutoff and drain, the final choice, cancel, the archive, permissions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <numbers>

#include "audio/wav_file.h"
#include "speech/linear16_conversion.h"
#include "speech/speech_engine.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

using testing::LogCapture;
using testing::TempDir;
using testing::VirtualDispatcher;

struct FakeInputState {
  bool running = false;
  int starts = 0;
  std::string lastSource;
  std::optional<AudioInputError> failStart;
  std::optional<AudioInputError> failProbe;
  AudioInputFormat format{48000, 2};
  AudioInput::BufferHandler onBuffer;
  AudioInput::ErrorHandler onError;
};

class FakeAudioInput final : public AudioInput {
 public:
  explicit FakeAudioInput(std::shared_ptr<FakeInputState> s) : s_(std::move(s)) {}
  std::optional<AudioInputError> start(const std::string& source, BufferHandler onBuffer,
                                       ErrorHandler onError) override {
    ++s_->starts;
    s_->lastSource = source;
    if (s_->failStart) return s_->failStart;
    s_->running = true;
    s_->onBuffer = std::move(onBuffer);
    s_->onError = std::move(onError);
    return std::nullopt;
  }
  void stop() override {
    s_->running = false;
    s_->onBuffer = nullptr;
    s_->onError = nullptr;
  }
  bool isRunning() const override { return s_->running; }
  AudioInputFormat format() const override { return s_->running ? s_->format : AudioInputFormat{}; }
  std::optional<AudioInputError> probe(const std::string&) override { return s_->failProbe; }
  std::optional<AudioInputError> listSources(std::vector<AudioSourceInfo>&) override { return std::nullopt; }

 private:
  std::shared_ptr<FakeInputState> s_;
};

struct FakeRecognizerState {
  RecognizerKind kind{};
  int sampleRate = 0;
  std::string key;
  StreamingRecognizer* client = nullptr;
  RecognitionHints hints;
  PcmBytes received;
  std::vector<std::size_t> chunkSizes;
  std::function<void(std::string)> finishCompletion;
  bool cancelled = false;
};

class FakeRecognizer final : public StreamingRecognizer {
 public:
  explicit FakeRecognizer(std::shared_ptr<FakeRecognizerState> s) : s_(std::move(s)) { s_->client = this; }
  ~FakeRecognizer() override { s_->client = nullptr; }
  std::string_view providerName() const override { return "fake"; }
  int sampleRate() const override { return s_->sampleRate; }
  void start(RecognitionHints hints) override { s_->hints = std::move(hints); }
  void send(std::string bytes) override {
    s_->chunkSizes.push_back(bytes.size());
    s_->received.insert(s_->received.end(), bytes.begin(), bytes.end());
  }
  void finish(std::function<void(std::string)> completion) override { s_->finishCompletion = std::move(completion); }
  void cancel() override { s_->cancelled = true; }

 private:
  std::shared_ptr<FakeRecognizerState> s_;
};

struct FakeOnDevice final : OnDeviceRecognizer {
  SpeechAuthorization status = SpeechAuthorization::denied;
  std::function<void(OnDeviceRecognitionResult)> onResult;
  int appended = 0;
  SpeechAuthorization requestAuthorization() override { return status; }
  struct Task final : OnDeviceRecognitionTask {
    FakeOnDevice* owner;
    explicit Task(FakeOnDevice* o) : owner(o) {}
    void append(const CapturedAudio&) override { ++owner->appended; }
    void endAudio() override {}
  };
  std::unique_ptr<OnDeviceRecognitionTask> start(const std::string&, SerialQueue&,
                                                 std::function<void(OnDeviceRecognitionResult)> r) override {
    onResult = std::move(r);
    return std::make_unique<Task>(this);
  }
};

class SpeechEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { makeEngine(); }

  void makeEngine(std::unique_ptr<FakeOnDevice> onDevice = nullptr, bool failingVoiceProcessor = false) {
    engine.reset();
    paths = Paths::underHome(home.path(), home.file("sorvane.log"));
    ::mkdir(paths.configFolder.c_str(), 0700);
    onDevice_ = onDevice.get();
    SpeechEngineParts parts;
    parts.audioInput = std::make_unique<FakeAudioInput>(input);
    parts.onDeviceRecognizer = std::move(onDevice);
    parts.makeRecognizer = [this](RecognizerKind kind, const std::string& key, int rate) {
      auto s = std::make_shared<FakeRecognizerState>();
      s->kind = kind;
      s->key = key;
      s->sampleRate = rate;
      recognizers.push_back(s);
      return std::make_unique<FakeRecognizer>(s);
    };
    if (failingVoiceProcessor) {
      parts.makeVoiceProcessor = [](int, int, std::string& error) -> std::unique_ptr<VoiceProcessor> {
        error = "no such device";
        return nullptr;
      };
    }
    engine = std::make_unique<SpeechEngine>(dispatcher, paths, std::move(parts));
    engine->onMark = [this](std::string name) { marks.push_back(name); };
    engine->onValue = [this](std::string key, Json v) { values[key] = v; };
    engine->onLevel = [this](double level) { levels.push_back(level); };
  }

  void writeConfig(const std::string& name, const std::string& content = "x") {
    std::ofstream(paths.configFolder + "/" + name) << content;
  }

  int64_t now() const { return dispatcher.clock().wallMilliseconds(); }

  // One 1024-frame stereo buffer whose last sample was captured `latencyMs` ago.
  void deliverBuffer(double latencyMs = 0, float amplitude = 0.3f) {
    const double rate = input->format.sampleRate;
    const double durationMs = 1024 * 1000.0 / rate;
    std::vector<float> samples(1024 * 2);
    for (std::size_t f = 0; f < 1024; ++f) {
      const float v = amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * double(framesSent + f) / rate));
      samples[2 * f] = samples[2 * f + 1] = v;
    }
    framesSent += 1024;
    CapturedAudio audio;
    audio.interleaved = samples;
    audio.frames = 1024;
    audio.channels = 2;
    audio.sampleRate = rate;
    audio.firstSampleWallMs = static_cast<double>(now()) - latencyMs - durationMs;
    lastBufferEndMs = audioEndMilliseconds(audio);
    if (input->onBuffer) input->onBuffer(audio);
  }

  // Advances time by `ms`, delivering a buffer whenever a buffer's worth has passed.
  void capture(int64_t ms, double latencyMs = 0) {
    const double period = 1024 * 1000.0 / input->format.sampleRate;
    for (int64_t t = 0; t < ms; ++t) {
      dispatcher.advance(Milliseconds(1));
      clockMs += 1;
      if (clockMs >= period) {
        clockMs -= period;
        deliverBuffer(latencyMs);
      }
    }
  }

  // Stops and keeps the microphone running until the engine stops it.
  void stopWhileCapturing(double latencyMs = 0) {
    engine->stop(0, [this](std::string text) {
      completed = true;
      finalText = text;
    });
    while (input->running && dispatcher.virtualClock().elapsedMs() < 10'000) capture(1, latencyMs);
    dispatcher.runUntilIdle();
  }

  bool hasMark(const std::string& name) const { return std::find(marks.begin(), marks.end(), name) != marks.end(); }

  TempDir home;
  Paths paths;
  VirtualDispatcher dispatcher;
  std::shared_ptr<FakeInputState> input = std::make_shared<FakeInputState>();
  std::vector<std::shared_ptr<FakeRecognizerState>> recognizers;
  FakeOnDevice* onDevice_ = nullptr;
  std::unique_ptr<SpeechEngine> engine;
  std::vector<std::string> marks;
  std::map<std::string, Json> values;
  std::vector<double> levels;
  std::size_t framesSent = 0;
  double clockMs = 0;
  int64_t lastBufferEndMs = 0;
  bool completed = false;
  std::string finalText;
};

TEST_F(SpeechEngineTest, NoRecognizerFailsStartWithoutOpeningTheMicrophone) {
  LogCapture log;
  const auto error = engine->start();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "Sorvane");
  EXPECT_EQ(error->code, 1);
  EXPECT_EQ(error->description, "Speech recognizer is unavailable");
  EXPECT_EQ(input->starts, 0);
  EXPECT_FALSE(engine->speechAuthorized());
}

TEST_F(SpeechEngineTest, QwenTurnFlushesUpToTheCutoffAndChoosesQwen) {
  writeConfig("dashscope-api-key", "  sk-test\n");
  writeConfig("audio-source", "testmic\n");
  LogCapture log;
  ASSERT_FALSE(engine->start());
  ASSERT_EQ(recognizers.size(), 1u);
  auto& qwen = *recognizers[0];
  EXPECT_EQ(qwen.kind, RecognizerKind::qwen);
  EXPECT_EQ(qwen.key, "sk-test");
  EXPECT_EQ(qwen.sampleRate, 16000);
  EXPECT_EQ(input->lastSource, "testmic");
  EXPECT_EQ(engine->provider(), "qwen3-asr-flash-realtime");
  EXPECT_EQ(values["audioEnhancement"], "cautious-blended-tail-safe-enhancer");
  EXPECT_EQ(values["voiceProcessingIO"], false);
  EXPECT_EQ(values["voiceProcessingIODisabledReason"], "live-stream-safety");
  EXPECT_EQ(values["ffmpegSpeechNormalizerDisabledReason"], "live-stream-safety");
  EXPECT_EQ(values["qwenPCMDelayMs"], 80);
  EXPECT_TRUE(log.contains("speech provider=qwen3-asr-flash-realtime sampleRate=16000"));
  EXPECT_TRUE(log.contains("speech started provider=qwen3-asr-flash-realtime"));

  capture(1000);
  // Released 80 ms behind capture: about a second of 16 kHz audio minus the delay.
  EXPECT_GT(qwen.received.size(), 2u * 16000 * 850 / 1000);
  EXPECT_LT(qwen.received.size(), 2u * 16000 * 960 / 1000);
  EXPECT_FALSE(levels.empty());

  qwen.client->onTranscript("今天天气", false);
  dispatcher.runUntilIdle();
  EXPECT_EQ(engine->transcript(), "今天天气");

  const int64_t stopMs = now();
  stopWhileCapturing();
  EXPECT_EQ(values["qwenFlushCutoffMs"], stopMs + 90);
  EXPECT_EQ(values["cutoffDrainTargetMs"], 120);
  EXPECT_GE(values["cutoffDrainMs"].get<int64_t>(), 120);
  EXPECT_EQ(values["qwenCutoffFlushTrimmedBuffers"].get<int>() + values["qwenCutoffFlushFullBuffers"].get<int>() > 0,
            true);
  EXPECT_GE(values["qwenCutoffFlushDroppedBuffers"].get<int>(), 0);
  // Everything up to stop + 90 ms reached the recogniser, within one buffer's rounding.
  const double sentMs = static_cast<double>(qwen.received.size()) / 2 / 16.0;
  const double capturedUntilCutoffMs = static_cast<double>(stopMs + 90 - (1'765'000'000'000));
  EXPECT_NEAR(sentMs, capturedUntilCutoffMs, 25.0);
  ASSERT_TRUE(qwen.finishCompletion);
  EXPECT_FALSE(input->running);
  qwen.finishCompletion("今天天气不错");
  dispatcher.runUntilIdle();
  ASSERT_TRUE(completed);
  EXPECT_EQ(finalText, "今天天气不错");
  EXPECT_EQ(engine->provider(), "qwen3-asr-flash-realtime");
  EXPECT_TRUE(qwen.cancelled);
  for (const char* name : {"tailCaptureStart", "tailCaptureDone", "cutoffDrainStart", "cutoffDrainDone",
                           "audioStopStart", "audioStopDone", "asrFinalizeStart", "qwenCutoffFlushStart",
                           "qwenCutoffFlushDone", "asrFinalizeDone"}) {
    EXPECT_TRUE(hasMark(name)) << name;
  }
  EXPECT_TRUE(log.contains("speech stopped provider=qwen3-asr-flash-realtime chars=6"));

  // The archive holds the unenhanced 16 kHz audio of the whole capture.
  const auto path = engine->saveLastAudio("turn-1");
  ASSERT_TRUE(path);
  const auto wav = readWAV(*path);
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav.value->sampleRate, 16000);
  EXPECT_NEAR(static_cast<double>(wav.value->samples.size()) / 2, framesSent / 3.0, 32.0);
  struct stat file {}, folder {};
  ASSERT_EQ(::stat(path->c_str(), &file), 0);
  ASSERT_EQ(::stat(paths.audioFolder.c_str(), &folder), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600);
  EXPECT_EQ(folder.st_mode & 0777, 0700);
  EXPECT_TRUE(log.contains("audio archived path=" + *path + " bytes="));
}

// A source 60 ms behind real time: the drain waits past 120 ms until audio up to the
// flush cutoff has come in, so the tail is not cut.
TEST_F(SpeechEngineTest, DrainWaitsForALateSource) {
  writeConfig("dashscope-api-key");
  ASSERT_FALSE(engine->start());
  capture(600, 60);
  const int64_t stopMs = now();
  stopWhileCapturing(60);
  EXPECT_GT(values["cutoffDrainMs"].get<int64_t>(), 120);
  EXPECT_LE(values["cutoffDrainMs"].get<int64_t>(), 500);
  EXPECT_GE(lastBufferEndMs, stopMs + 90);
  EXPECT_EQ(values["qwenCutoffFlushTrimmedBuffers"].get<int>() + values["qwenCutoffFlushDroppedBuffers"].get<int>() >= 1,
            true);
}

TEST_F(SpeechEngineTest, DrainGivesUpAfterHalfASecond) {
  writeConfig("dashscope-api-key");
  ASSERT_FALSE(engine->start());
  capture(300);
  engine->stop(0, [this](std::string) { completed = true; });
  dispatcher.advance(Milliseconds(499));  // the source stalls: nothing arrives
  EXPECT_TRUE(input->running);
  dispatcher.advance(Milliseconds(2));
  EXPECT_FALSE(input->running);
  EXPECT_EQ(values["cutoffDrainMs"], 500);
}

TEST_F(SpeechEngineTest, DeepgramTurnSendsEnhancedAudioAtTheSourceRate) {
  writeConfig("deepgram-api-key", "dg");
  LogCapture log;
  ASSERT_FALSE(engine->start());
  ASSERT_EQ(recognizers.size(), 1u);
  auto& deepgram = *recognizers[0];
  EXPECT_EQ(deepgram.kind, RecognizerKind::deepgram);
  EXPECT_EQ(deepgram.sampleRate, 48000);
  EXPECT_TRUE(log.contains("speech provider=deepgram-streaming sampleRate=48000"));
  capture(100);
  ASSERT_FALSE(deepgram.chunkSizes.empty());
  for (std::size_t size : deepgram.chunkSizes) EXPECT_EQ(size, 2048u);

  deepgram.client->onTranscript("hello", true);
  dispatcher.runUntilIdle();
  EXPECT_TRUE(log.contains("deepgram final chars=5"));
  engine->stop(0, [this](std::string text) {
    completed = true;
    finalText = text;
  });
  EXPECT_FALSE(input->running);  // no drain without the delay queue
  ASSERT_TRUE(deepgram.finishCompletion);
  deepgram.finishCompletion("  ");
  dispatcher.runUntilIdle();
  EXPECT_TRUE(completed);
  EXPECT_EQ(finalText, "hello");  // a blank final keeps the live text
  EXPECT_EQ(engine->provider(), "deepgram-streaming");
}

TEST_F(SpeechEngineTest, OnDeviceOnlyTurnWaitsFourHundredFiftyMilliseconds) {
  auto onDevice = std::make_unique<FakeOnDevice>();
  onDevice->status = SpeechAuthorization::authorized;
  makeEngine(std::move(onDevice));
  bool permitted = false;
  engine->requestPermissions([&](bool ok) { permitted = ok; });
  dispatcher.runUntilIdle();
  EXPECT_TRUE(permitted);
  ASSERT_TRUE(engine->speechAuthorized());
  ASSERT_FALSE(engine->start());
  EXPECT_EQ(engine->provider(), "apple-speech");
  capture(50);
  EXPECT_GT(onDevice_->appended, 0);
  onDevice_->onResult({"你好", std::nullopt});
  engine->stop(0, [this](std::string text) {
    completed = true;
    finalText = text;
  });
  dispatcher.advance(Milliseconds(449));
  EXPECT_FALSE(completed);
  dispatcher.advance(Milliseconds(1));
  EXPECT_TRUE(completed);
  EXPECT_EQ(finalText, "你好");
  EXPECT_EQ(engine->provider(), "apple-speech");
  EXPECT_TRUE(hasMark("appleFinalizeDone"));
}

TEST_F(SpeechEngineTest, PermissionAnswer) {
  struct Case {
    bool micGranted;
    SpeechAuthorization speech;
    const char* keyFile;
    bool expected;
    const char* log;
  };
  const Case cases[] = {
      {true, SpeechAuthorization::denied, "deepgram-api-key", true, "permissions mic=true speech=1"},
      {true, SpeechAuthorization::denied, "dashscope-api-key", true, "permissions mic=true speech=1"},
      {true, SpeechAuthorization::denied, nullptr, false, "permissions mic=true speech=1"},
      {true, SpeechAuthorization::authorized, nullptr, true, "permissions mic=true speech=3"},
      {false, SpeechAuthorization::authorized, "dashscope-api-key", false, "permissions mic=false speech=3"},
  };
  for (const Case& c : cases) {
    auto onDevice = std::make_unique<FakeOnDevice>();
    onDevice->status = c.speech;
    input->failProbe = c.micGranted ? std::nullopt
                                    : std::optional<AudioInputError>({AudioInputErrorKind::noServer, "none"});
    makeEngine(std::move(onDevice));
    for (const char* f : {"deepgram-api-key", "dashscope-api-key"}) std::remove((paths.configFolder + "/" + f).c_str());
    if (c.keyFile) writeConfig(c.keyFile);
    LogCapture log;
    std::optional<bool> answer;
    engine->requestPermissions([&](bool ok) { answer = ok; });
    dispatcher.runUntilIdle();
    EXPECT_EQ(answer, c.expected) << c.log << " " << (c.keyFile ? c.keyFile : "-");
    EXPECT_TRUE(log.contains(c.log));
  }
  // With no on-device backend the speech answer is "restricted".
  makeEngine();
  input->failProbe.reset();
  LogCapture log;
  engine->requestPermissions([](bool) {});
  dispatcher.runUntilIdle();
  EXPECT_TRUE(log.contains("permissions mic=true speech=2"));
}

TEST_F(SpeechEngineTest, FailedStartCancelsWhatItCreated) {
  writeConfig("dashscope-api-key");
  input->failStart = AudioInputError{AudioInputErrorKind::noServer, "no pulseaudio server: Connection refused"};
  LogCapture log;
  const auto error = engine->start();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 2);
  EXPECT_EQ(error->description, "no pulseaudio server: Connection refused");
  // The microphone is opened before the recogniser, so no socket was made for nothing.
  EXPECT_TRUE(recognizers.empty() || recognizers[0]->cancelled);
  EXPECT_FALSE(engine->isCapturing());
  engine->stop(0, [this](std::string) { completed = true; });
  dispatcher.runUntilIdle();
  EXPECT_TRUE(completed);  // a stop without a turn still answers
}

TEST_F(SpeechEngineTest, CancelDropsTheTurnAndItsLateResults) {
  writeConfig("dashscope-api-key");
  ASSERT_FALSE(engine->start());
  capture(200);
  auto qwen = recognizers[0];
  const auto lateDelivery = qwen->client->onTranscript;  // a delivery the client posts too late
  engine->stop(0, [this](std::string) { completed = true; });
  engine->cancelCapture();
  EXPECT_FALSE(input->running);
  EXPECT_TRUE(qwen->cancelled);
  EXPECT_EQ(qwen->client, nullptr);
  lateDelivery("迟到的结果", true);
  dispatcher.advance(Milliseconds(2000));
  EXPECT_FALSE(completed);
  EXPECT_EQ(engine->transcript(), "");
  // A new turn does not see the old turn's buffers or text.
  ASSERT_FALSE(engine->start());
  EXPECT_EQ(engine->transcript(), "");
  EXPECT_FALSE(engine->saveLastAudio("empty"));
}

TEST_F(SpeechEngineTest, SaveLastAudioWithNoAudioWritesNothing) {
  LogCapture log;
  EXPECT_FALSE(engine->saveLastAudio("turn"));
  struct stat info {};
  EXPECT_NE(::stat(paths.audioFolder.c_str(), &info), 0);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SpeechEngineTest, MicrophoneFailureMidTurnIsReportedOnceAndTheTurnStillEnds) {
  writeConfig("dashscope-api-key");
  std::vector<std::string> errors;
  engine->onCaptureError = [&](std::string e) { errors.push_back(e); };
  ASSERT_FALSE(engine->start());
  capture(300);
  input->onError({AudioInputErrorKind::sourceVanished, "audio source vanished"});
  input->running = false;
  input->onBuffer = nullptr;
  dispatcher.runUntilIdle();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(values["audioInputError"], "source-vanished");
  engine->stop(0, [this](std::string) { completed = true; });
  dispatcher.advance(Milliseconds(121));  // no waiting for audio that cannot come
  ASSERT_TRUE(recognizers[0]->finishCompletion);
  recognizers[0]->finishCompletion("");
  dispatcher.runUntilIdle();
  EXPECT_TRUE(completed);
}

TEST_F(SpeechEngineTest, VoiceProcessingSwitch) {
  writeConfig("dashscope-api-key");
  writeConfig("enable-voice-processing-io");
  {
    LogCapture log;
    ASSERT_FALSE(engine->start());
    EXPECT_EQ(values["voiceProcessingIO"], true);
    EXPECT_EQ(values["audioEnhancement"], "apple-vpio-plus-cautious-blended-tail-safe-enhancer");
    EXPECT_TRUE(log.contains("voice processing io enabled"));
    capture(200);  // the webrtc processor runs on the captured stream
    EXPECT_FALSE(recognizers.back()->received.empty());
    engine->cancelCapture();
  }
  makeEngine(nullptr, /*failingVoiceProcessor=*/true);
  LogCapture log;
  ASSERT_FALSE(engine->start());
  EXPECT_EQ(values["voiceProcessingIO"], false);
  EXPECT_TRUE(log.contains("voice processing io unavailable no such device"));
}

TEST(SpeechEngineRules, AudioEnhancementNames) {
  EXPECT_EQ(audioEnhancementName(false, false), "cautious-blended-tail-safe-enhancer");
  EXPECT_EQ(audioEnhancementName(true, false), "apple-vpio-plus-cautious-blended-tail-safe-enhancer");
  EXPECT_EQ(audioEnhancementName(false, true), "cautious-blended-tail-safe-enhancer-plus-ffmpeg-speechnorm");
  EXPECT_EQ(audioEnhancementName(true, true),
            "apple-vpio-plus-cautious-blended-tail-safe-enhancer-plus-ffmpeg-speechnorm");
}

TEST(SpeechEngineRules, TranscriptChoice) {
  struct Case {
    std::string qwen, deepgram, onDevice;
    bool hadQwen, hadDeepgram;
    std::string text, provider, log;
  };
  const Case cases[] = {
      {"好", "", "今天好", true, false, "今天好", "apple-speech-fallback", "qwen empty; using apple fallback chars=3"},
      {"今天", "", "今天天气", true, false, "今天", "qwen3-asr-flash-realtime", ""},
      {"", "", "你好", true, false, "你好", "apple-speech-fallback", "qwen empty; using apple fallback chars=2"},
      {"", "hi", "", false, true, "hi", "deepgram-streaming", ""},
      {"", "a", "abc", false, true, "abc", "apple-speech-fallback", "deepgram empty; using apple fallback chars=3"},
      {"", "", "你好", false, false, "你好", "apple-speech", ""},
      {"", "", "", true, false, "", "apple-speech-fallback", "qwen empty; using apple fallback chars=0"},
  };
  for (const Case& c : cases) {
    const TranscriptChoice choice = chooseTranscript(c.qwen, c.deepgram, c.onDevice, c.hadQwen, c.hadDeepgram);
    EXPECT_EQ(choice.text, c.text) << c.qwen << "|" << c.onDevice;
    EXPECT_EQ(choice.provider, c.provider) << c.qwen << "|" << c.onDevice;
    EXPECT_EQ(choice.logLine.value_or(""), c.log) << c.qwen << "|" << c.onDevice;
  }
}

}  // namespace
}  // namespace sorvane
