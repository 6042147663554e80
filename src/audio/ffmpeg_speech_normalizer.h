// Runs the external ffmpeg program as a streaming loudness filter on the recogniser's
// audio path: linear16 chunks leaving the delay queue are written to ffmpeg's standard
// input and whatever it writes to standard output goes to `onOutput` ("speechnorm"
// evens out speech loudness, "alimiter" keeps peaks below full scale). Used for one
// turn when the switch file "enable-ffmpeg-speechnorm" exists, then dropped.
//
// The child process lives on the serial queue "app.sorvane.ffmpeg-speechnorm" (a thread
// with its own event loop): it is created, written, read and destroyed there, and writes
// are buffered, never blocking. `start` waits for the launch; `send`, `finish` and
// `cancel` only enqueue, so every chunk sent before `finish` is written before the input
// closes. `onOutput` runs on that queue; the finish completion on the main queue.
//
// Degradation: no executable or a failed launch makes `start` return false (the caller
// sends audio straight on). An ffmpeg that exits before `finish` (a build without the
// filter, a crash) is logged once and later chunks go to `onOutput` unfiltered, so the
// turn keeps its audio. `finish` closes the input and waits for ffmpeg to drain and exit
// for at most 0.75 s from the moment it is called, however much is still queued for a
// hung ffmpeg, which is then terminated (and killed if it ignores that); the completion
// always comes, once. Needs the Qt dispatcher (a real event loop on the queue).
// Destroy it on its owner's thread before the dispatcher; destruction waits briefly for
// the queue to stop the process.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/pcm_bytes.h"

namespace sorvane {

class Dispatcher;

inline constexpr const char* kSpeechNormalizerLabel = "app.sorvane.ffmpeg-speechnorm";
inline constexpr std::chrono::milliseconds kSpeechNormalizerFinishBound{750};

class FFmpegSpeechNormalizer {
 public:
  using Output = std::function<void(PcmBytes)>;

  // Where ffmpeg is looked for, in order.
  static std::vector<std::string> defaultCandidates();
  // The first candidate that is an executable regular file.
  static std::optional<std::string> availablePath(std::span<const std::string> candidates);
  static std::optional<std::string> availablePath() { return availablePath(defaultCandidates()); }
  // The exact argument list for raw 16-bit mono at `sampleRate` on both pipes.
  static std::vector<std::string> arguments(int sampleRate);

  explicit FFmpegSpeechNormalizer(Dispatcher& dispatcher, std::vector<std::string> candidates = defaultCandidates(),
                                  std::chrono::milliseconds finishBound = kSpeechNormalizerFinishBound);
  ~FFmpegSpeechNormalizer();
  FFmpegSpeechNormalizer(const FFmpegSpeechNormalizer&) = delete;
  FFmpegSpeechNormalizer& operator=(const FFmpegSpeechNormalizer&) = delete;

  // True when ffmpeg was launched. Call once.
  bool start(int sampleRate, Output onOutput);
  // Queues bytes for ffmpeg's input; empty chunks and chunks after finish or cancel are
  // ignored.
  void send(PcmBytes bytes);
  // Closes the input, lets ffmpeg drain (bounded), then calls `completion` on the main
  // queue, 30 ms after the end; a second finish completes at once.
  void finish(std::function<void()> completion);
  // Stops at once; no completion, no more output.
  void cancel();

  struct State;  // defined in the .cpp

 private:
  std::shared_ptr<State> state_;
};

}  // namespace sorvane
