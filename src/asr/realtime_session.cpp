// The shared socket half of the realtime recogniser clients: opening the connection,
// its failure and close events, cancelling, and the main-queue deliveries.
#include "asr/realtime_session.h"

#include "asr/recognizer_support.h"
#include "core/log.h"

namespace sorvane {

RealtimeSession::RealtimeSession(Dispatcher& d, WebSocketClient& s, std::string_view stateQueueLabel,
                                 std::string_view sendQueueLabel, std::string key, std::string url)
    : dispatcher(d),
      sockets(s),
      stateQueue(d.queue(stateQueueLabel)),
      sendQueue(d.queue(sendQueueLabel)),
      apiKey(std::move(key)),
      endpoint(std::move(url)) {}

void RealtimeSession::begin(RecognitionHints hints, TranscriptCallback transcript, MarkCallback markCallback,
                            ValueCallback valueCallback) {
  onTranscript = std::move(transcript);
  onMark = std::move(markCallback);
  onValue = std::move(valueCallback);
  start(std::move(hints));
}

bool RealtimeSession::openSocket(SocketOptions options) {
  const std::string prefix(options.logPrefix);
  if (!parseWebSocketURL(endpoint)) {
    log(prefix + " invalid url");
    return false;
  }
  WebSocketEvents events;
  events.onText = [weak = weak_from_this()](std::string text) {
    if (auto self = weak.lock()) self->handleMessage(text);
  };
  // A binary frame is read as UTF-8 text too.
  events.onBinary = events.onText;
  events.onFailure = [weak = weak_from_this(), prefix, maxChars = options.maxLoggedChars](WebSocketFailure failure) {
    auto self = weak.lock();
    if (!self || self->cancelled->load()) return;
    std::string line = prefix + " receive error " + boundedForLog(failure.description, maxChars);
    if (failure.droppedFrames > 0) line += " droppedFrames=" + std::to_string(failure.droppedFrames);
    self->log(line);
    self->socket.reset();  // no reconnection within a turn; later sends are dropped quietly
  };
  events.onClose = [weak = weak_from_this(), prefix](int code, std::string) {
    auto self = weak.lock();
    if (!self || self->cancelled->load()) return;
    self->log(prefix + " websocket closed code=" + std::to_string(code));
    self->socket.reset();
  };
  WebSocketRequest request;
  request.url = endpoint;
  request.headers = {{"Authorization", std::move(options.authorization)}};
  request.timeout = options.timeout;
  socket = sockets.connect(std::move(request), stateQueue, std::move(events));
  return true;
}

void RealtimeSession::cancel() {
  cancelled->store(true);
  if (socket) socket->close(kWebSocketCloseGoingAway);
  socket.reset();
}

void RealtimeSession::log(std::string_view message) const { appLog(redactSecret(message, apiKey)); }

void RealtimeSession::postTranscript(std::string text, bool isFinal) const {
  if (!onTranscript) return;
  dispatcher.mainQueue().post([callback = onTranscript, text = std::move(text), isFinal] { callback(text, isFinal); });
}

void RealtimeSession::deliverText(FinishCompletion completion, std::string text) const {
  if (!completion) return;
  dispatcher.mainQueue().post([completion = std::move(completion), text = std::move(text)] { completion(text); });
}

}  // namespace sorvane
