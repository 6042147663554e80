// The capture engine on a real sound server: a private PulseAudio server whose default
// source is a pipe, fed at real time with espeak-ng speech (16 kHz mono s16). The turn's
// archive, levels and recogniser audio are checked against what went into the pipe.
// The speech turn runs the real Qwen client against a loopback realtime server; the
// failure turns use a recording fake recogniser.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <mutex>
#include <thread>

#include "audio/wav_file.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "platform/linux/pulse_audio_input.h"
#include "speech/speech_engine.h"
#include "net/qt/qt_web_socket_client.h"
#include "speech/cloud_recognizer_factory.h"
#include "support/loopback_asr_servers.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"

extern char** environ;

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;
using testing::waitUntil;

constexpr int kPipeRate = 16000;
constexpr std::size_t kChunkSamples = 160;  // 10 ms

bool onPath(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

void pauseFor(std::chrono::milliseconds ms) { waitUntil([] { return false; }, ms); }

class PrivatePulseServer {
 public:
  PrivatePulseServer() {
    ::chmod(dir_.path().c_str(), 0700);
    std::ofstream(dir_.file("pa.conf"))
        << "load-module module-native-protocol-unix socket=" << socketPath() << " auth-anonymous=1\n"
        << "load-module module-pipe-source source_name=testmic file=" << fifoPath()
        << " format=s16le rate=16000 channels=1\n"
        << "load-module module-null-sink\n"
        << "set-default-source testmic\n";
  }
  ~PrivatePulseServer() { stop(); }

  bool start() {
    const std::string conf = dir_.file("pa.conf");
    const std::string logTarget = "--log-target=file:" + dir_.file("pa.log");
    std::vector<std::string> args = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                     "--use-pid-file=no", "-F", conf, logTarget};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir_.path(), "HOME=" + dir_.path(),
                                    "PULSE_RUNTIME_PATH=" + dir_.path(), "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
    return waitUntil([this] { return ::access(socketPath().c_str(), F_OK) == 0 && ::access(fifoPath().c_str(), F_OK) == 0; },
                     8s);
  }
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string socketPath() const { return dir_.file("native"); }
  std::string fifoPath() const { return dir_.file("mic.fifo"); }
  std::string address() const { return "unix:" + socketPath(); }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

// Writes 10 ms chunks into the pipe at real time: queued speech, otherwise silence.
class PipeWriter {
 public:
  explicit PipeWriter(const std::string& fifo) : fd_(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) {
    if (fd_ >= 0) thread_ = std::thread([this] { run(); });
  }
  ~PipeWriter() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // Queues samples; returns the index (in samples written overall) where they begin.
  std::size_t play(const std::vector<int16_t>& samples) {
    std::lock_guard lock(mutex_);
    const std::size_t at = written_ + queue_.size();
    queue_.insert(queue_.end(), samples.begin(), samples.end());
    return at;
  }
  // Samples written up to wall time `ms`.
  std::size_t writtenBy(int64_t ms) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [at, total] : log_) {
      if (at > ms) break;
      n = total;
    }
    return n;
  }
  std::vector<int16_t> everything() const {
    std::lock_guard lock(mutex_);
    return all_;
  }

 private:
  void run() {
    auto next = std::chrono::steady_clock::now();
    while (!done_) {
      std::vector<int16_t> chunk(kChunkSamples, 0);
      {
        std::lock_guard lock(mutex_);
        const std::size_t take = std::min(kChunkSamples, queue_.size());
        std::copy(queue_.begin(), queue_.begin() + take, chunk.begin());
        queue_.erase(queue_.begin(), queue_.begin() + take);
      }
      if (::write(fd_, chunk.data(), chunk.size() * 2) != static_cast<ssize_t>(chunk.size() * 2)) return;
      {
        std::lock_guard lock(mutex_);
        written_ += chunk.size();
        all_.insert(all_.end(), chunk.begin(), chunk.end());
        log_.emplace_back(currentMilliseconds(), written_);
      }
      next += 10ms;
      std::this_thread::sleep_until(next);
    }
  }

  int fd_;
  std::atomic<bool> done_{false};
  mutable std::mutex mutex_;
  std::vector<int16_t> queue_;
  std::vector<int16_t> all_;
  std::size_t written_ = 0;
  std::vector<std::pair<int64_t, std::size_t>> log_;
  std::thread thread_;
};

std::vector<int16_t> espeakSpeech(const TempDir& dir) {
  const std::string wav = dir.file("speech.wav");
  const std::string raw = dir.file("speech.raw");
  const std::string command = "espeak-ng -v zh -s 170 '今天天气很好' -w " + wav +
                              " 2>/dev/null && sox " + wav + " -r 16000 -c 1 -b 16 -e signed " + raw + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

std::vector<int16_t> toSamples(const PcmBytes& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

// RMS in 20 ms windows.
std::vector<double> envelope(const std::vector<int16_t>& s, std::size_t begin = 0, std::size_t end = SIZE_MAX) {
  end = std::min(end, s.size());
  std::vector<double> out;
  for (std::size_t i = begin; i + 320 <= end; i += 320) {
    double sum = 0;
    for (std::size_t j = i; j < i + 320; ++j) sum += double(s[j]) * s[j];
    out.push_back(std::sqrt(sum / 320));
  }
  return out;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (n < 2) return 0;
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
  ma /= n, mb /= n;
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return ab / std::sqrt(aa * bb + 1e-12);
}

struct RecordingRecognizer final : StreamingRecognizer {
  struct Shared {
    std::mutex mutex;
    PcmBytes received;
    std::function<void(std::string)> finish;
    bool cancelled = false;
  };
  explicit RecordingRecognizer(std::shared_ptr<Shared> s) : s(std::move(s)) {}
  std::string_view providerName() const override { return "recording"; }
  int sampleRate() const override { return 16000; }
  void start(RecognitionHints) override {}
  void send(std::string bytes) override {
    std::lock_guard lock(s->mutex);
    s->received.insert(s->received.end(), bytes.begin(), bytes.end());
  }
  void finish(std::function<void(std::string)> completion) override { s->finish = std::move(completion); }
  void cancel() override { s->cancelled = true; }
  std::shared_ptr<Shared> s;
};

class RealCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!onPath("pulseaudio")) GTEST_SKIP() << "pulseaudio is not installed";
    ::signal(SIGPIPE, SIG_IGN);
    dispatcher = makeQtDispatcher(SystemClock::instance());
    paths = Paths::underHome(home.path(), home.file("sorvane.log"));
    ::mkdir(paths.configFolder.c_str(), 0700);
    std::ofstream(paths.configFolder + "/dashscope-api-key") << "sk-loopback";
  }
  void TearDown() override {
    engine.reset();
    dispatcher.reset();
  }

  void makeEngine(const std::string& server, RecognizerFactory factory = {}) {
    SpeechEngineParts parts;
    parts.audioInput = std::make_unique<platform::PulseAudioInput>(SystemClock::instance(), server);
    parts.makeRecognizer = factory ? std::move(factory) : [this](RecognizerKind, const std::string&, int) {
      return std::make_unique<RecordingRecognizer>(recognizer);
    };
    engine = std::make_unique<SpeechEngine>(*dispatcher, paths, std::move(parts));
    engine->onLevel = [this](double level) { maxLevel = std::max(maxLevel, level); };
    engine->onMark = [this](std::string name) { markTimes[name] = currentMilliseconds(); };
    engine->onCaptureError = [this](std::string) { ++captureErrors; };
  }

  bool stopAndComplete() {
    engine->stop(0, [this](std::string) { completed = true; });
    if (!waitUntil([this] { return recognizer->finish != nullptr; }, 5s)) return false;
    recognizer->finish("今天天气很好");
    return waitUntil([this] { return completed; }, 5s);
  }

  TempDir home;
  Paths paths;
  std::unique_ptr<Dispatcher> dispatcher;
  std::shared_ptr<RecordingRecognizer::Shared> recognizer = std::make_shared<RecordingRecognizer::Shared>();
  std::unique_ptr<SpeechEngine> engine;
  double maxLevel = 0;
  std::map<std::string, int64_t> markTimes;
  int captureErrors = 0;
  bool completed = false;
};

TEST_F(RealCaptureTest, SpeechTravelsTheCapturePath) {
  if (!onPath("espeak-ng") || !onPath("sox")) GTEST_SKIP() << "espeak-ng or sox is not installed";
  const std::vector<int16_t> speech = espeakSpeech(home);
  ASSERT_GT(speech.size(), 16000u / 2);
  PrivatePulseServer server;
  ASSERT_TRUE(server.start()) << server.dir().read("pa.log");
  PipeWriter writer(server.fifoPath());
  ASSERT_TRUE(writer.ok());

  // The server lists the pipe as the default source.
  platform::PulseAudioInput lister(SystemClock::instance(), server.address());
  std::vector<AudioSourceInfo> sources;
  ASSERT_FALSE(lister.listSources(sources));
  ASSERT_TRUE(std::any_of(sources.begin(), sources.end(),
                          [](const AudioSourceInfo& s) { return s.name == "testmic" && s.isDefault; }));

  testing::RealtimeServerScript script;
  script.completedTranscript = "今天天气很好";
  testing::LoopbackRealtimeServer qwenServer(script);
  std::ofstream(paths.configFolder + "/providers.json")
      << R"({"dashscope":{"realtimeURL":")" << qwenServer.realtimeURL() << R"("}})";
  QtWebSocketClient sockets(dispatcher->queue("app.sorvane.test-network"));
  makeEngine(server.address(), cloudRecognizerFactory(*dispatcher, sockets, ConfigFolder(paths.configFolder)));
  pauseFor(200ms);
  const int64_t startMs = currentMilliseconds();
  const auto error = engine->start();
  ASSERT_FALSE(error) << error->description;
  pauseFor(150ms);
  writer.play(speech);
  pauseFor(std::chrono::milliseconds(speech.size() * 1000 / kPipeRate + 300));
  const int64_t stopMs = currentMilliseconds();
  std::string finalText;
  engine->stop(0, [&](std::string text) {
    completed = true;
    finalText = text;
  });
  ASSERT_TRUE(waitUntil([this] { return completed; }, 5s));
  EXPECT_EQ(finalText, "今天天气很好");
  EXPECT_EQ(engine->provider(), "qwen3-asr-flash-realtime");
  ASSERT_TRUE(markTimes.count("audioStopStart"));

  const auto path = engine->saveLastAudio("real-turn");
  ASSERT_TRUE(path);
  const auto wav = readWAV(*path);
  ASSERT_TRUE(wav);
  const std::vector<int16_t> archive = toSamples(wav.value->samples);

  // Length: what went into the pipe between the start and the end of capture.
  const std::size_t written = writer.writtenBy(markTimes["audioStopStart"]) - writer.writtenBy(startMs);
  EXPECT_NEAR(static_cast<double>(archive.size()), static_cast<double>(written), 1024.0 + 2 * kChunkSamples);

  // Shape: aligned on the samples, the archive's RMS envelope is that of the speech
  // written into the pipe.
  const std::vector<int16_t> all = writer.everything();
  const std::size_t firstWritten = writer.writtenBy(startMs);
  long bestOffset = 0;
  double bestError = 1e300;
  for (long off = -3200; off <= 3200; off += 1) {
    double err = 0;
    for (std::size_t i = 0; i < archive.size(); i += 7) {
      const long j = static_cast<long>(firstWritten + i) + off;
      const double ref = (j >= 0 && j < static_cast<long>(all.size())) ? all[j] : 0.0;
      err += (archive[i] - ref) * (archive[i] - ref);
    }
    if (err < bestError) bestError = err, bestOffset = off;
  }
  const std::size_t from = static_cast<std::size_t>(std::max<long>(0, static_cast<long>(firstWritten) + bestOffset));
  const auto archiveEnvelope = envelope(archive);
  const auto writtenEnvelope = envelope(all, from, from + archive.size());
  EXPECT_GT(correlation(archiveEnvelope, writtenEnvelope), 0.99) << "offset " << bestOffset;
  EXPECT_GT(maxLevel, 0.2);

  // The recogniser got the enhanced 16 kHz audio in order, cut at stop + 90 ms: it
  // follows the archive's envelope and ends near the cutoff, before the archive does.
  // The server's audio ends with the client's 560 ms of trailing silence.
  std::string audio = qwenServer.audio();
  ASSERT_GT(audio.size(), 17920u);
  audio.resize(audio.size() - 17920);
  const std::vector<int16_t> sent = toSamples(PcmBytes(audio.begin(), audio.end()));
  ASSERT_GT(sent.size(), speech.size() / 2);
  EXPECT_LT(sent.size(), archive.size());
  // Measured on the writer's own clock: on a loaded machine the writer falls behind
  // real time, so wall-clock milliseconds would count samples that never went in.
  const std::size_t writtenToCutoff = writer.writtenBy(stopMs + 90) - writer.writtenBy(startMs);
  EXPECT_NEAR(static_cast<double>(sent.size()), static_cast<double>(writtenToCutoff),
              120.0 * kPipeRate / 1000);
  EXPECT_GT(correlation(envelope(sent), envelope(archive, 0, sent.size())), 0.9);
}

TEST_F(RealCaptureTest, ServerStoppedMidTurnEndsThroughTheErrorPath) {
  PrivatePulseServer server;
  ASSERT_TRUE(server.start()) << server.dir().read("pa.log");
  auto writer = std::make_unique<PipeWriter>(server.fifoPath());
  makeEngine(server.address());
  ASSERT_FALSE(engine->start());
  pauseFor(300ms);
  server.stop();
  EXPECT_TRUE(waitUntil([this] { return captureErrors > 0; }, 5s));
  ASSERT_TRUE(stopAndComplete());
  EXPECT_EQ(captureErrors, 1);
  writer.reset();
  // The next turn reports the missing server at start.
  const auto error = engine->start();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 2);
}

TEST_F(RealCaptureTest, NoServerFailsStartClearly) {
  makeEngine("unix:" + home.file("no-such-server"));
  const auto error = engine->start();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 2);
  EXPECT_NE(error->description.find("no pulseaudio server"), std::string::npos) << error->description;
  EXPECT_FALSE(engine->isCapturing());
}

}  // namespace
}  // namespace sorvane
