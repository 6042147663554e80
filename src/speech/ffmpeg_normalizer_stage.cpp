#include "audio/ffmpeg_speech_normalizer.h"
#include "speech/speech_engine_ports.h"

namespace sorvane {
namespace {

class FFmpegStage final : public SpeechNormalizerStage {
 public:
  explicit FFmpegStage(Dispatcher& dispatcher) : normalizer_(dispatcher) {}
  bool start(int sampleRate, std::function<void(PcmBytes)> onOutput) override {
    return normalizer_.start(sampleRate, std::move(onOutput));
  }
  void send(PcmBytes bytes) override { normalizer_.send(std::move(bytes)); }
  void finish(std::function<void()> completion) override { normalizer_.finish(std::move(completion)); }
  void cancel() override { normalizer_.cancel(); }

 private:
  FFmpegSpeechNormalizer normalizer_;
};

}  // namespace

std::unique_ptr<SpeechNormalizerStage> makeFFmpegSpeechNormalizerStage(Dispatcher& dispatcher) {
  return std::make_unique<FFmpegStage>(dispatcher);
}

}  // namespace sorvane
