#include "speech/cloud_recognizer_factory.h"

#include "asr/deepgram_streaming_client.h"
#include "asr/qwen_streaming_client.h"

namespace sorvane {

RecognizerFactory cloudRecognizerFactory(Dispatcher& dispatcher, WebSocketClient& sockets, ConfigFolder config) {
  return [&dispatcher, &sockets, config = std::move(config)](RecognizerKind kind, const std::string& key,
                                                            int sampleRate) -> std::unique_ptr<StreamingRecognizer> {
    const ProviderSettings providers = config.providers();
    if (kind == RecognizerKind::qwen) return std::make_unique<QwenStreamingClient>(dispatcher, sockets, key, providers);
    return std::make_unique<DeepgramStreamingClient>(dispatcher, sockets, key, sampleRate, providers);
  };
}

}  // namespace sorvane
