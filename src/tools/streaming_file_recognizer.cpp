#include "tools/streaming_file_recognizer.h"

#include "asr/deepgram_streaming_client.h"
#include "asr/qwen_streaming_client.h"
#include "audio/wav_file.h"
#include "core/config_folder.h"
#include "core/dispatch.h"

namespace sorvane {
namespace {

class StreamingTask final : public FileRecognitionTask {
 public:
  StreamingTask(SerialQueue& queue, std::unique_ptr<StreamingRecognizer> client, std::string pcm, std::size_t chunkBytes,
                std::function<void(FileRecognitionUpdate)> onUpdate)
      : queue_(queue), client_(std::move(client)), pcm_(std::move(pcm)), chunkBytes_(chunkBytes),
        onUpdate_(std::move(onUpdate)) {}

  ~StreamingTask() override {
    if (client_) client_->cancel();
  }

  void begin() {
    client_->onTranscript = [queue = &queue_, weak = liveness_.weak(), onUpdate = onUpdate_](const std::string& text,
                                                                                              bool) {
      queue->post([weak, onUpdate, text] {
        if (weak.lock()) onUpdate({text, false, std::nullopt});
      });
    };
    client_->start({});
    sendNext();
  }

 private:
  void sendNext() {
    if (offset_ >= pcm_.size()) {
      client_->finish([queue = &queue_, weak = liveness_.weak(), onUpdate = onUpdate_](std::string text) {
        queue->post([weak, onUpdate, text = std::move(text)] {
          if (weak.lock()) onUpdate({text, true, std::nullopt});
        });
      });
      return;
    }
    client_->send(pcm_.substr(offset_, chunkBytes_));
    offset_ += chunkBytes_;
    queue_.postAfter(StreamingFileRecognizer::kChunkInterval, liveness_.guard([this] { sendNext(); }));
  }

  SerialQueue& queue_;
  std::unique_ptr<StreamingRecognizer> client_;
  std::string pcm_;
  std::size_t chunkBytes_;
  std::size_t offset_ = 0;
  std::function<void(FileRecognitionUpdate)> onUpdate_;
  LivenessToken liveness_;
};

// A task that only reports its error (posted, like every update).
class FailedTask final : public FileRecognitionTask {};

}  // namespace

StreamingFileRecognizer::StreamingFileRecognizer(Dispatcher& dispatcher, ClientFactory factory)
    : dispatcher_(dispatcher), factory_(std::move(factory)) {}

std::unique_ptr<FileRecognitionTask> StreamingFileRecognizer::start(const std::string& path, const std::string&,
                                                                    SerialQueue& updateQueue,
                                                                    std::function<void(FileRecognitionUpdate)> onUpdate) {
  auto fail = [&](std::string error) -> std::unique_ptr<FileRecognitionTask> {
    updateQueue.post([onUpdate, error = std::move(error)] { onUpdate({"", false, error}); });
    return std::make_unique<FailedTask>();
  };
  auto wav = readWAV(path);
  if (!wav) return fail(wav.error.description);
  std::string error;
  auto client = factory_ ? factory_(wav.value->sampleRate, error) : nullptr;
  if (!client) return error.empty() ? nullptr : fail(error);
  const auto& samples = wav.value->samples;
  std::string pcm(reinterpret_cast<const char*>(samples.data()), samples.size());
  // Whole 16-bit samples per chunk.
  const std::size_t chunkBytes =
      std::max<std::size_t>(2, static_cast<std::size_t>(wav.value->sampleRate) * kChunkDuration.count() / 1000 * 2);
  auto task = std::make_unique<StreamingTask>(updateQueue, std::move(client), std::move(pcm), chunkBytes,
                                              std::move(onUpdate));
  task->begin();
  return task;
}

StreamingFileRecognizer::ClientFactory recognizerFactoryForKeys(Dispatcher& dispatcher, WebSocketClient& sockets,
                                                                const ConfigFolder& config) {
  return [&dispatcher, &sockets, config](int sampleRate, std::string& error) -> std::unique_ptr<StreamingRecognizer> {
    const ProviderSettings providers = config.providers();
    if (auto key = config.key(kDashScopeKeyFile)) {
      if (sampleRate != qwen::kSampleRate) {
        error = "the realtime recogniser needs 16000 Hz audio, got " + std::to_string(sampleRate);
        return nullptr;
      }
      return std::make_unique<QwenStreamingClient>(dispatcher, sockets, *key, providers);
    }
    if (auto key = config.key(kDeepgramKeyFile)) {
      return std::make_unique<DeepgramStreamingClient>(dispatcher, sockets, *key, sampleRate, providers);
    }
    return nullptr;
  };
}

}  // namespace sorvane
