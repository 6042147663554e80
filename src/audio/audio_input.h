// The microphone port: one capture stream per recording turn.
//
// `start` opens the default input (or the source named by the user) and returns once
// audio flows or it has failed; from then on `onBuffer` receives interleaved float
// buffers of exactly `kCaptureBufferFrames` frames at the source's own rate, each with
// the wall time of its first sample. Capture times come from a frame counter anchored
// once on the stream's latency and the clock, so consecutive buffers are contiguous.
// `onBuffer` and `onError` run on the adapter's capture thread and must never block;
// `onError` reports a failure mid-turn (the source vanished, the server went away) at
// most once, after which no buffer arrives. `stop` may be called from any thread but the
// capture thread; once it returns no callback runs. Between turns nothing is open and no
// thread runs (desktops show a microphone indicator while a stream exists).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

// The 1024-frame buffers the conditioning path is sized for (about 21 ms at 48 kHz).
inline constexpr std::size_t kCaptureBufferFrames = 1024;
// A file in the configuration folder naming the input source to use (its first line,
// trimmed); missing or blank means the server's default source.
inline constexpr std::string_view kAudioSourceFile = "audio-source";

struct CapturedAudio {
  std::span<const float> interleaved;  // frames × channels samples in [-1, 1] (may exceed)
  std::size_t frames = 0;
  int channels = 1;
  double sampleRate = 0;
  double firstSampleWallMs = 0;  // wall time at which the first frame was captured
};

enum class AudioInputErrorKind { noServer, noSource, sourceVanished, failed };

struct AudioInputError {
  AudioInputErrorKind kind = AudioInputErrorKind::failed;
  std::string description;
};

struct AudioInputFormat {
  double sampleRate = 0;
  int channels = 0;
};

struct AudioSourceInfo {
  std::string name;
  std::string description;
  bool isDefault = false;
};

class AudioInput {
 public:
  using BufferHandler = std::function<void(const CapturedAudio&)>;
  using ErrorHandler = std::function<void(const AudioInputError&)>;

  virtual ~AudioInput() = default;

  // Opens `sourceName` (empty: the default source) and starts capturing. The error is
  // returned here for failures before audio flows; nothing stays open then.
  virtual std::optional<AudioInputError> start(const std::string& sourceName, BufferHandler onBuffer,
                                               ErrorHandler onError) = 0;
  virtual void stop() = 0;
  virtual bool isRunning() const = 0;
  // The format of the running stream (rate 0 when none runs).
  virtual AudioInputFormat format() const = 0;
  // Whether `sourceName` (empty: the default) exists and could be opened now, without
  // opening a stream.
  virtual std::optional<AudioInputError> probe(const std::string& sourceName) = 0;
  // The sources the server offers, for the user to pick one; an error when the server
  // cannot be reached.
  virtual std::optional<AudioInputError> listSources(std::vector<AudioSourceInfo>& out) = 0;
};

std::string_view audioInputErrorKindName(AudioInputErrorKind kind);

}  // namespace sorvane
