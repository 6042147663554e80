#include "asr/deepgram_streaming_client.h"

#include "asr/realtime_session.h"
#include "asr/recognizer_support.h"
#include "asr/transcript_merge.h"
#include "core/config_folder.h"
#include "core/unicode_text.h"
#include "net/web_socket.h"

namespace sorvane {
namespace {

constexpr std::size_t kMaxLoggedChars = 300;

std::string listenEndpoint(const ProviderSettings& providers, int sampleRate) {
  std::string url = providers.deepgramListenURL;
  char separator = url.find('?') == std::string::npos ? '?' : '&';
  auto add = [&](std::string_view name, std::string_view value) {
    url += separator;
    url += name;
    url += '=';
    url += value;
    separator = '&';
  };
  add("model", providers.deepgramModel);
  add("language", deepgram::kLanguage);
  add("encoding", "linear16");
  add("sample_rate", std::to_string(sampleRate));
  add("channels", "1");
  add("interim_results", "true");
  add("endpointing", std::to_string(deepgram::kEndpointingMs));
  add("utterance_end_ms", std::to_string(deepgram::kUtteranceEndMs));
  add("punctuate", "true");
  add("smart_format", "true");
  for (auto term : deepgram::kKeyTerms) add("keyterm", term);
  return url;
}

}  // namespace

std::optional<DeepgramResult> parseDeepgramResult(std::string_view frame) {
  auto object = parseJsonObject(frame);
  if (!object) return std::nullopt;
  if (auto type = object->find("type"); type != object->end() && !(type->is_string() && *type == "Results")) {
    return std::nullopt;
  }
  auto channel = object->find("channel");
  if (channel == object->end() || !channel->is_object()) return std::nullopt;
  auto alternatives = channel->find("alternatives");
  if (alternatives == channel->end() || !alternatives->is_array() || alternatives->empty()) return std::nullopt;
  auto transcript = jsonString(alternatives->front(), "transcript");
  if (!transcript) return std::nullopt;
  return DeepgramResult{text::trim(*transcript), jsonBool(*object, "is_final").value_or(false),
                        jsonBool(*object, "speech_final").value_or(false)};
}

namespace {

class DeepgramSession final : public RealtimeSession {
 public:
  DeepgramSession(Dispatcher& d, WebSocketClient& s, std::string key, std::string url)
      : RealtimeSession(d, s, deepgram::kStateQueue, deepgram::kSendQueue, std::move(key), std::move(url)) {}

  void send(std::string bytes) override {
    if (isFinishing || cancelled->load() || !socket || bytes.empty()) return;
    onSocket([bytes = std::move(bytes)](WebSocketConnection& connection) mutable {
      connection.sendBinary(std::move(bytes));
    });
  }

  void finish(FinishCompletion completion) override {
    if (cancelled->load()) {
      deliver(std::move(completion));
      return;
    }
    isFinishing = true;
    mark("deepgramFinishStart");
    value("deepgramFinishWaitMs", deepgram::kFinishWait.count());
    onSocket([](WebSocketConnection& connection) { connection.sendText(R"({"type":"CloseStream"})"); });
    stateQueue.postAfter(deepgram::kFinishWait,
                         [weak = weak_from_this(), completion = std::move(completion)]() mutable {
                           auto self = std::static_pointer_cast<DeepgramSession>(weak.lock());
                           if (!self) return;
                           self->mark("deepgramFinishDone");
                           self->deliver(std::move(completion));
                         });
  }

 private:
  void start(RecognitionHints) override {
    if (!openSocket({"deepgram", "Token " + apiKey, deepgram::kConnectTimeout, kMaxLoggedChars})) return;
    log("deepgram websocket started");
  }

  void handleMessage(const std::string& frame) override {
    if (cancelled->load()) return;
    auto result = parseDeepgramResult(frame);
    if (!result) return;
    if (result->isFinal) {
      transcript.mergeFinal(result->text);
      transcript.clearInterim();
    } else {
      transcript.setInterim(result->text);
    }
    std::string current = transcript.current();
    if (current.empty()) return;
    postTranscript(std::move(current), result->isFinal || result->speechFinal);
  }

  void deliver(FinishCompletion completion) { deliverText(std::move(completion), transcript.current()); }

  LiveTranscript transcript;
  bool isFinishing = false;
};

}  // namespace

DeepgramStreamingClient::DeepgramStreamingClient(Dispatcher& dispatcher, WebSocketClient& sockets, std::string apiKey,
                                                 int sampleRate, const ProviderSettings& providers)
    : RealtimeRecognizerClient(std::make_shared<DeepgramSession>(dispatcher, sockets, std::move(apiKey),
                                                                 listenEndpoint(providers, sampleRate))),
      sampleRate_(sampleRate) {}

}  // namespace sorvane
