// The microphone adapter over libpulse, the PulseAudio client API (PipeWire desktops
// serve it too, through pipewire-pulse).
//
// Each `start` creates a threaded main loop, a context and one record stream on the
// default source (or the named one) in 32-bit float at the source's own rate and channel
// count, asking for fragments of about 1024 frames with adjusted latency so that a
// buffer reaches us soon after it was captured. What the server delivers is re-blocked
// to exactly 1024 frames; the first frame's capture time is the clock's wall time minus
// the stream's latency at the first read, and every later buffer follows by frame count.
// `stop` tears everything down, so between turns no connection, stream or thread exists.
// Callbacks run on the main loop's thread (the capture thread); `stop` must not be called
// from it. The client never starts a sound server of its own (no autospawn).
#pragma once

#include <memory>
#include <string>

#include "audio/audio_input.h"

namespace sorvane {
class Clock;
}

namespace sorvane::platform {

class PulseAudioInput final : public AudioInput {
 public:
  // `server` is a PulseAudio server address ("unix:/path/native"); empty: the usual
  // lookup (PULSE_SERVER, the user's runtime folder).
  explicit PulseAudioInput(const Clock& clock, std::string server = {});
  ~PulseAudioInput() override;

  std::optional<AudioInputError> start(const std::string& sourceName, BufferHandler onBuffer,
                                       ErrorHandler onError) override;
  void stop() override;
  bool isRunning() const override;
  AudioInputFormat format() const override;
  std::optional<AudioInputError> probe(const std::string& sourceName) override;
  std::optional<AudioInputError> listSources(std::vector<AudioSourceInfo>& out) override;

  struct Session;

 private:
  const Clock& clock_;
  std::string server_;
  std::unique_ptr<Session> session_;
};

}  // namespace sorvane::platform
