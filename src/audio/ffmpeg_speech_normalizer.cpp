#include "audio/ffmpeg_speech_normalizer.h"

#include <QObject>
#include <QProcess>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "core/clock.h"
#include "core/dispatch.h"
#include "core/log.h"

namespace sorvane {
namespace {

constexpr std::chrono::milliseconds kCompletionDelay{30};
// How long a terminated ffmpeg may take before it is killed.
constexpr std::chrono::milliseconds kKillGrace{250};
constexpr int kCancelWaitMs = 1000;

}  // namespace

struct FFmpegSpeechNormalizer::State : std::enable_shared_from_this<FFmpegSpeechNormalizer::State> {
  State(Dispatcher& d, std::vector<std::string> paths, std::chrono::milliseconds bound)
      : dispatcher(d), queue(d.queue(kSpeechNormalizerLabel)), candidates(std::move(paths)), finishBound(bound) {}

  Dispatcher& dispatcher;
  SerialQueue& queue;
  const std::vector<std::string> candidates;
  const std::chrono::milliseconds finishBound;

  // Everything below only on `queue`.
  std::unique_ptr<QProcess> process;
  Output onOutput;
  bool started = false;
  bool didFinish = false;
  bool didCallFinishCompletion = false;
  bool exitedEarly = false;  // ffmpeg is gone: chunks pass through unfiltered
  bool loggedWriteFailure = false;
  std::function<void()> completion;
  OneShotTimer finishTimer;

  void forwardOutput() {
    if (!process) return;
    const QByteArray bytes = process->readAllStandardOutput();
    if (bytes.isEmpty() || !onOutput) return;
    onOutput(PcmBytes(bytes.begin(), bytes.end()));
  }

  void stopReading() {
    if (process) QObject::disconnect(process.get(), &QProcess::readyReadStandardOutput, nullptr, nullptr);
  }

  void finalise() {
    if (didCallFinishCompletion) return;
    didCallFinishCompletion = true;
    finishTimer.cancel();
    forwardOutput();  // what ffmpeg wrote before the end still reaches the recogniser
    stopReading();
    if (auto done = std::move(completion)) dispatcher.mainQueue().postAfter(kCompletionDelay, std::move(done));
  }

  void onFinished(int exitCode, QProcess::ExitStatus status) {
    if (didFinish) {
      finalise();
      return;
    }
    exitedEarly = true;
    forwardOutput();
    appLog("ffmpeg speechnorm exited early code=" + std::to_string(exitCode) +
           " crashed=" + (status == QProcess::CrashExit ? "true" : "false") + "; forwarding audio unfiltered");
  }

  void onError(QProcess::ProcessError error) {
    if (error != QProcess::WriteError || loggedWriteFailure) return;
    loggedWriteFailure = true;
    appLog("ffmpeg speechnorm write failed " + process->errorString().toStdString());
  }

  bool launch(const std::string& path, int sampleRate) {
    process = std::make_unique<QProcess>();
    process->setProgram(QString::fromStdString(path));
    QStringList list;
    for (const std::string& argument : arguments(sampleRate)) list << QString::fromStdString(argument);
    process->setArguments(list);
    // Nobody reads ffmpeg's diagnostics; a pipe would fill up and stall it.
    process->setStandardErrorFile(QProcess::nullDevice());
    QProcess* p = process.get();
    QObject::connect(p, &QProcess::readyReadStandardOutput, p, [this] { forwardOutput(); });
    QObject::connect(p, &QProcess::finished, p, [this](int code, QProcess::ExitStatus status) { onFinished(code, status); });
    QObject::connect(p, &QProcess::errorOccurred, p, [this](QProcess::ProcessError error) { onError(error); });
    p->start(QIODevice::ReadWrite);
    if (!p->waitForStarted()) {
      appLog("ffmpeg speechnorm failed " + p->errorString().toStdString());
      QObject::disconnect(p, nullptr, nullptr, nullptr);
      process.reset();
      return false;
    }
    appLog("ffmpeg speechnorm started path=" + path + " sampleRate=" + std::to_string(sampleRate));
    return true;
  }

  void write(const PcmBytes& bytes) {
    if (didFinish) return;
    if (exitedEarly) {
      if (onOutput) onOutput(bytes);
      return;
    }
    if (!process) return;
    process->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  }

  void beginFinish(std::function<void()> done, std::chrono::steady_clock::time_point calledAt) {
    if (didFinish) {
      if (done) dispatcher.mainQueue().post(std::move(done));
      return;
    }
    didFinish = true;
    completion = std::move(done);
    if (!process || process->state() == QProcess::NotRunning) {
      finalise();
      return;
    }
    process->closeWriteChannel();
    // The bound counts from the call, not from when the queue got to it.
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(dispatcher.clock().monotonicNow() - calledAt);
    finishTimer.start(queue, std::max(finishBound - elapsed, std::chrono::milliseconds(0)), [this] { onFinishTimeout(); });
  }

  void onFinishTimeout() {
    if (didCallFinishCompletion) return;
    if (process && process->state() != QProcess::NotRunning) {
      appLog("ffmpeg speechnorm finish timeout; terminating process");
      process->terminate();
      QProcess* p = process.get();
      queue.postAfter(kKillGrace, [weak = weak_from_this(), p] {
        const auto self = weak.lock();
        if (self && self->process.get() == p && p->state() != QProcess::NotRunning) p->kill();
      });
    }
    finalise();
  }

  void stop() {
    didFinish = true;
    didCallFinishCompletion = true;
    finishTimer.cancel();
    completion = nullptr;
    if (process) {
      QObject::disconnect(process.get(), nullptr, nullptr, nullptr);
      if (process->state() != QProcess::NotRunning) {
        process->closeWriteChannel();
        process->kill();
        process->waitForFinished(kCancelWaitMs);
      }
      process.reset();
    }
    onOutput = nullptr;
  }
};

std::vector<std::string> FFmpegSpeechNormalizer::defaultCandidates() {
  return {"/opt/homebrew/bin/ffmpeg", "/usr/local/bin/ffmpeg", "/usr/bin/ffmpeg"};
}

std::optional<std::string> FFmpegSpeechNormalizer::availablePath(std::span<const std::string> candidates) {
  for (const std::string& path : candidates) {
    struct stat info{};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0) return path;
  }
  return std::nullopt;
}

std::vector<std::string> FFmpegSpeechNormalizer::arguments(int sampleRate) {
  return {"-hide_banner", "-loglevel", "error", "-f", "s16le", "-ar", std::to_string(sampleRate), "-ac", "1",
          "-i", "pipe:0", "-af", "speechnorm=e=6.25:r=0.0001:l=1,alimiter=limit=0.95", "-f", "s16le", "pipe:1"};
}

FFmpegSpeechNormalizer::FFmpegSpeechNormalizer(Dispatcher& dispatcher, std::vector<std::string> candidates,
                                               std::chrono::milliseconds finishBound)
    : state_(std::make_shared<State>(dispatcher, std::move(candidates), finishBound)) {}

FFmpegSpeechNormalizer::~FFmpegSpeechNormalizer() {
  // Tasks still queued keep the state alive; the process itself goes now, on its thread.
  state_->queue.runSync([state = state_.get()] { state->stop(); });
}

bool FFmpegSpeechNormalizer::start(int sampleRate, Output onOutput) {
  const auto path = availablePath(state_->candidates);
  if (!path) return false;
  bool launched = false;
  state_->queue.runSync([&] {
    State& s = *state_;
    if (s.started) return;
    s.started = true;
    s.onOutput = std::move(onOutput);
    launched = s.launch(*path, sampleRate);
  });
  return launched;
}

void FFmpegSpeechNormalizer::send(PcmBytes bytes) {
  if (bytes.empty()) return;
  state_->queue.post([state = state_, bytes = std::move(bytes)] { state->write(bytes); });
}

void FFmpegSpeechNormalizer::finish(std::function<void()> completion) {
  const auto calledAt = state_->dispatcher.clock().monotonicNow();
  state_->queue.post([state = state_, completion = std::move(completion), calledAt]() mutable {
    state->beginFinish(std::move(completion), calledAt);
  });
}

void FFmpegSpeechNormalizer::cancel() {
  state_->queue.post([state = state_] { state->stop(); });
}

}  // namespace sorvane
