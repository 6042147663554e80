// The realtime clients' public calls, each posted onto the session's state queue.
#include "asr/realtime_recognizer_client.h"

#include "asr/realtime_session.h"

namespace sorvane {

RealtimeRecognizerClient::RealtimeRecognizerClient(std::shared_ptr<RealtimeSession> session)
    : session_(std::move(session)) {}

RealtimeRecognizerClient::~RealtimeRecognizerClient() {
  // The state ends on its own queue, after everything already posted there.
  session_->stateQueue.post([session = session_] { session->cancel(); });
}

std::string RealtimeRecognizerClient::endpointURL() const { return session_->endpoint; }

void RealtimeRecognizerClient::start(RecognitionHints hints) {
  session_->stateQueue.post([session = session_, hints = std::move(hints), onTranscript = onTranscript,
                             onMark = onMark, onValue = onValue]() mutable {
    session->begin(std::move(hints), std::move(onTranscript), std::move(onMark), std::move(onValue));
  });
}

void RealtimeRecognizerClient::send(std::string linear16) {
  session_->stateQueue.post([weak = session_->weak_from_this(), bytes = std::move(linear16)]() mutable {
    if (auto session = weak.lock()) session->send(std::move(bytes));
  });
}

void RealtimeRecognizerClient::finish(FinishCompletion completion) {
  session_->stateQueue.post([weak = session_->weak_from_this(), completion = std::move(completion)]() mutable {
    if (auto session = weak.lock()) session->finish(std::move(completion));
  });
}

void RealtimeRecognizerClient::cancel() {
  session_->stateQueue.post([weak = session_->weak_from_this()] {
    if (auto session = weak.lock()) session->cancel();
  });
}

}  // namespace sorvane
