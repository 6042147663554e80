// The common body of the realtime recogniser clients (Qwen realtime, Deepgram live):
// each public call is posted onto the state queue of the client's `RealtimeSession`,
// which holds the turn's protocol; a derived client only makes its session and names
// its provider and sample rate.
//
// Queues: the calls may come from any queue and only enqueue; `start` hands the session
// copies of the callbacks set so far. Destroying the client cancels the session on its
// own queue, after everything already posted there; the session itself lives on while
// tasks in flight hold it, and does nothing for them once cancelled.
#pragma once

#include <memory>
#include <string>

#include "asr/streaming_recognizer.h"

namespace sorvane {

class RealtimeSession;

class RealtimeRecognizerClient : public StreamingRecognizer {
 public:
  ~RealtimeRecognizerClient() override;
  RealtimeRecognizerClient(const RealtimeRecognizerClient&) = delete;
  RealtimeRecognizerClient& operator=(const RealtimeRecognizerClient&) = delete;

  void start(RecognitionHints hints) override;
  void send(std::string linear16) override;
  void finish(FinishCompletion completion) override;
  void cancel() override;

  // The URL `start` connects to.
  std::string endpointURL() const;

 protected:
  explicit RealtimeRecognizerClient(std::shared_ptr<RealtimeSession> session);

 private:
  std::shared_ptr<RealtimeSession> session_;
};

}  // namespace sorvane
