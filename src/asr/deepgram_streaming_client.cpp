#include "asr/deepgram_streaming_client.h"

#include <atomic>

#include "asr/recognizer_support.h"
#include "asr/transcript_merge.h"
#include "core/config_folder.h"
#include "core/dispatch.h"
#include "core/log.h"
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

struct DeepgramStreamingClient::State : std::enable_shared_from_this<State> {
  State(Dispatcher& d, WebSocketClient& s, std::string key, std::string url)
      : dispatcher(d),
        sockets(s),
        stateQueue(d.queue(deepgram::kStateQueue)),
        sendQueue(d.queue(deepgram::kSendQueue)),
        apiKey(std::move(key)),
        endpoint(std::move(url)) {}

  void log(std::string_view message) const { appLog(redactSecret(message, apiKey)); }
  void mark(std::string_view name) const {
    if (onMark) onMark(name);
  }
  void value(std::string_view key, const Json& v) const {
    if (onValue) onValue(key, v);
  }

  void start() {
    if (!parseWebSocketURL(endpoint)) {
      log("deepgram invalid url");
      return;
    }
    WebSocketEvents events;
    events.onText = [weak = weak_from_this()](std::string text) {
      if (auto self = weak.lock()) self->handleMessage(text);
    };
    events.onBinary = events.onText;
    events.onFailure = [weak = weak_from_this()](WebSocketFailure failure) {
      auto self = weak.lock();
      if (!self || self->cancelled->load()) return;
      std::string line = "deepgram receive error " + boundedForLog(failure.description, kMaxLoggedChars);
      if (failure.droppedFrames > 0) line += " droppedFrames=" + std::to_string(failure.droppedFrames);
      self->log(line);
      self->socket.reset();
    };
    events.onClose = [weak = weak_from_this()](int code, std::string) {
      auto self = weak.lock();
      if (!self || self->cancelled->load()) return;
      self->log("deepgram websocket closed code=" + std::to_string(code));
      self->socket.reset();
    };
    WebSocketRequest request;
    request.url = endpoint;
    request.headers = {{"Authorization", "Token " + apiKey}};
    request.timeout = deepgram::kConnectTimeout;
    socket = sockets.connect(std::move(request), stateQueue, std::move(events));
    log("deepgram websocket started");
  }

  void send(std::string bytes) {
    if (isFinishing || cancelled->load() || !socket || bytes.empty()) return;
    sendQueue.post([socket = socket, cancelled = cancelled, bytes = std::move(bytes)]() mutable {
      if (!cancelled->load()) socket->sendBinary(std::move(bytes));
    });
  }

  void handleMessage(const std::string& frame) {
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
    if (current.empty() || !onTranscript) return;
    dispatcher.mainQueue().post([callback = onTranscript, text = std::move(current),
                                 isFinal = result->isFinal || result->speechFinal] { callback(text, isFinal); });
  }

  void finish(FinishCompletion completion) {
    if (cancelled->load()) {
      deliver(std::move(completion));
      return;
    }
    isFinishing = true;
    mark("deepgramFinishStart");
    value("deepgramFinishWaitMs", deepgram::kFinishWait.count());
    if (socket) {
      sendQueue.post([socket = socket, cancelled = cancelled] {
        if (!cancelled->load()) socket->sendText(R"({"type":"CloseStream"})");
      });
    }
    stateQueue.postAfter(deepgram::kFinishWait,
                         [weak = weak_from_this(), completion = std::move(completion)]() mutable {
                           auto self = weak.lock();
                           if (!self) return;
                           self->mark("deepgramFinishDone");
                           self->deliver(std::move(completion));
                         });
  }

  void deliver(FinishCompletion completion) {
    if (!completion) return;
    dispatcher.mainQueue().post(
        [completion = std::move(completion), text = transcript.current()] { completion(text); });
  }

  void cancel() {
    cancelled->store(true);
    if (socket) socket->close(kWebSocketCloseGoingAway);
    socket.reset();
  }

  Dispatcher& dispatcher;
  WebSocketClient& sockets;
  SerialQueue& stateQueue;
  SerialQueue& sendQueue;
  const std::string apiKey;
  const std::string endpoint;
  TranscriptCallback onTranscript;
  MarkCallback onMark;
  ValueCallback onValue;

  std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<WebSocketConnection> socket;
  LiveTranscript transcript;
  bool isFinishing = false;
};

DeepgramStreamingClient::DeepgramStreamingClient(Dispatcher& dispatcher, WebSocketClient& sockets, std::string apiKey,
                                                 int sampleRate, const ProviderSettings& providers)
    : sampleRate_(sampleRate),
      state_(std::make_shared<State>(dispatcher, sockets, std::move(apiKey), listenEndpoint(providers, sampleRate))) {}

DeepgramStreamingClient::~DeepgramStreamingClient() {
  state_->stateQueue.post([state = state_] { state->cancel(); });
}

std::string DeepgramStreamingClient::endpointURL() const { return state_->endpoint; }

void DeepgramStreamingClient::start(RecognitionHints) {
  state_->stateQueue.post([state = state_, onTranscript = onTranscript, onMark = onMark, onValue = onValue]() mutable {
    state->onTranscript = std::move(onTranscript);
    state->onMark = std::move(onMark);
    state->onValue = std::move(onValue);
    state->start();
  });
}

void DeepgramStreamingClient::send(std::string linear16) {
  state_->stateQueue.post([weak = state_->weak_from_this(), bytes = std::move(linear16)]() mutable {
    if (auto state = weak.lock()) state->send(std::move(bytes));
  });
}

void DeepgramStreamingClient::finish(FinishCompletion completion) {
  state_->stateQueue.post([weak = state_->weak_from_this(), completion = std::move(completion)]() mutable {
    if (auto state = weak.lock()) state->finish(std::move(completion));
  });
}

void DeepgramStreamingClient::cancel() {
  state_->stateQueue.post([weak = state_->weak_from_this()] {
    if (auto state = weak.lock()) state->cancel();
  });
}

}  // namespace sorvane
