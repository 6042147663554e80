#include "checks/self_checks_audio.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <optional>
#include <vector>

#include "checks/live_refiner.h"
#include "audio/audio_enhancer.h"
#include "audio/ffmpeg_speech_normalizer.h"
#include "audio/timestamped_pcm_delay_queue.h"
#include "core/clock.h"
#include "core/dispatch.h"
#include "core/qt/qt_dispatcher.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;

constexpr int kRate = 16000;

PcmBytes synthesize(int samples, double (*signal)(double t)) {
  PcmBytes bytes;
  bytes.reserve(2 * samples);
  for (int i = 0; i < samples; ++i) {
    const auto s = static_cast<std::int16_t>(32767.0 * signal(static_cast<double>(i) / kRate));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
  }
  return bytes;
}

double voiced(double t) {
  return 0.08 * std::sin(2 * std::numbers::pi * 440 * t) + 0.05 * std::sin(2 * std::numbers::pi * 55 * t);
}
double weakTone(double t) { return 0.012 * std::sin(2 * std::numbers::pi * 330 * t); }
double silence(double) { return 0.0; }
// Speech-like loudness changes, so the normaliser has something to even out.
double syllables(double t) {
  const double envelope = 0.03 + 0.25 * std::fabs(std::sin(2 * std::numbers::pi * 3 * t));
  return envelope * std::sin(2 * std::numbers::pi * 220 * t);
}

// Runs the main event loop until `done` holds or `limit` passes, looking every `slice`.
template <class Done>
bool waitOnMainLoop(Done done, std::chrono::milliseconds limit, std::chrono::milliseconds slice) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QEventLoop loop;
    QTimer::singleShot(slice, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

}  // namespace

int runAudioEnhancerCheck(std::ostream& out) {
  AudioEnhancer speech;
  const PcmBytes voicedIn = synthesize(1600, voiced);
  const PcmBytes voicedOut = speech.processLinear16(voicedIn, kRate);
  const bool changed = voicedOut != voicedIn;
  const bool sameLen = voicedOut.size() == voicedIn.size();
  const bool nonZero = rms(voicedOut) > 0.0f;

  AudioEnhancer weak;
  const PcmBytes weakIn = synthesize(1600, weakTone);
  const float weakInRMS = rms(weakIn);
  const float weakOutRMS = rms(weak.processLinear16(weakIn, kRate));
  const bool weakOk = weakOutRMS >= 0.45f * weakInRMS && weakOutRMS <= 2.2f * weakInRMS;

  AudioEnhancer quiet;
  const float silenceRMS = rms(quiet.processLinear16(synthesize(1600, silence), kRate));
  const bool silenceOk = silenceRMS < 0.0005f;

  if (changed && sameLen && nonZero && weakOk && silenceOk) {
    out << "audio enhancer ok\n";
    return 0;
  }
  out << "audio enhancer failed\n"
      << "changed=" << changed << " sameLen=" << sameLen << " nonZero=" << nonZero << " weakIn=" << weakInRMS
      << " weakOut=" << weakOutRMS << " silence=" << silenceRMS << "\n";
  return 1;
}

int runCutoffQueueCheck(std::ostream& out) {
  auto application = ensureCoreApplication();
  auto dispatcher = makeQtDispatcher(SystemClock::instance());
  std::optional<TimestampedPCMDelayQueue::FlushStats> stats;
  std::mutex mutex;
  std::size_t sunk = 0;
  {
    TimestampedPCMDelayQueue queue(*dispatcher);
    queue.reset(kDefaultPcmDelayMs, kRate, [&](PcmBytes data) {
      std::lock_guard lock(mutex);
      sunk += data.size();
    });
    const int64_t now = dispatcher->clock().wallMilliseconds();
    queue.append(PcmBytes(3200, 0), now + 500);
    queue.beginCutoff();
    queue.append(PcmBytes(3200, 0), now + 580);
    queue.append(PcmBytes(3200, 0), now + 720);
    queue.stopAndFlush(now + 530, [&](TimestampedPCMDelayQueue::FlushStats s) { stats = s; });
    waitOnMainLoop([&] { return stats.has_value(); }, 2000ms, 10ms);
  }
  if (!stats) {
    out << "cutoff queue timed out\n";
    return 1;
  }
  std::lock_guard lock(mutex);
  const bool ok = stats->fullBuffers == 1 && stats->trimmedBuffers == 1 && stats->droppedBuffers == 1 &&
                  stats->flushedBytes == 4800 && sunk == 4800;
  out << (ok ? "cutoff queue ok\n" : "cutoff queue failed\n");
  return ok ? 0 : 1;
}

int runFfmpegSpeechnormCheck(std::ostream& out) {
  const auto candidates = FFmpegSpeechNormalizer::defaultCandidates();
  return runFfmpegSpeechnormCheck(out, candidates);
}

int runFfmpegSpeechnormCheck(std::ostream& out, std::span<const std::string> candidates) {
  if (!FFmpegSpeechNormalizer::availablePath(candidates)) {
    out << "ffmpeg speechnorm unavailable\n";
    return 1;
  }
  auto application = ensureCoreApplication();
  auto dispatcher = makeQtDispatcher(SystemClock::instance());
  // Three seconds: ffmpeg writes its output in blocks of about one second of audio.
  const PcmBytes input = synthesize(3 * kRate, syllables);
  std::mutex mutex;
  PcmBytes output;
  bool finished = false;
  {
    FFmpegSpeechNormalizer normalizer(*dispatcher, std::vector<std::string>(candidates.begin(), candidates.end()));
    if (!normalizer.start(kRate, [&](PcmBytes bytes) {
          std::lock_guard lock(mutex);
          output.insert(output.end(), bytes.begin(), bytes.end());
        })) {
      out << "ffmpeg speechnorm start failed\n";
      return 1;
    }
    for (std::size_t offset = 0; offset < input.size(); offset += 2048) {
      normalizer.send(PcmBytes(input.begin() + offset, input.begin() + std::min(offset + 2048, input.size())));
    }
    // As in a turn, the stop comes after audio has flowed: the finish bound is for the
    // drain, not for ffmpeg's start-up, which takes most of a second on a busy machine.
    waitOnMainLoop(
        [&] {
          std::lock_guard lock(mutex);
          return !output.empty();
        },
        3000ms, 20ms);
    normalizer.finish([&] { finished = true; });
    waitOnMainLoop([&] { return finished; }, 3000ms, 20ms);
  }
  std::lock_guard lock(mutex);
  const bool changed = output != input;
  const bool nonZero = rms(output) > 0.0f;
  if (finished && !output.empty() && changed && nonZero) {
    out << "ffmpeg speechnorm ok\n";
    return 0;
  }
  out << "ffmpeg speechnorm failed finished=" << (finished ? "true" : "false") << " in=" << input.size()
      << " out=" << output.size() << " changed=" << (changed ? "true" : "false")
      << " nonZero=" << (nonZero ? "true" : "false") << "\n";
  return 1;
}

}  // namespace sorvane
