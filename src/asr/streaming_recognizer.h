// The common face of the realtime recogniser clients (Qwen realtime, Deepgram live), as
// the capture engine and the benchmark runner drive them: one client per turn.
//
//   auto client = std::make_unique<QwenStreamingClient>(dispatcher, sockets, key, providers);
//   client->onTranscript = ...; client->onMark = ...; client->onValue = ...;  // before start
//   client->start(hints);        // hints read by the owner now, never later
//   client->send(linear16);      // any thread, any number of times; only enqueues
//   client->finish([](std::string text) { ... });  // exactly one delivery per call
//   client->cancel();            // the owner always cancels after the turn
//
// `onTranscript` and finish completions run on the main queue; `onMark` and `onValue` on
// the client's own queues (the owner forwards them to the turn's metrics). Destroying a
// client cancels it and makes no new delivery; one already posted to the main queue
// still runs, so owners guard their callbacks (LivenessToken).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/json.h"

namespace sorvane {

// Vocabulary hints for one turn, taken at `start` so that a busy data store can neither
// delay nor drop the opening audio.
struct RecognitionHints {
  bool includeBuiltInHints = false;  // the user's "enable-qwen-corpus-hint" switch
  std::string dictionaryCorpusText;  // the personal dictionary's corpus text, may be empty
  int dictionaryTermCount = 0;       // how many terms that text holds
};

class StreamingRecognizer {
 public:
  using TranscriptCallback = std::function<void(const std::string& text, bool isFinal)>;
  using MarkCallback = std::function<void(std::string_view name)>;
  using ValueCallback = std::function<void(std::string_view key, const Json& value)>;
  using FinishCompletion = std::function<void(std::string text)>;

  virtual ~StreamingRecognizer() = default;

  // Set before `start`; the client keeps copies from then on.
  TranscriptCallback onTranscript;
  MarkCallback onMark;
  ValueCallback onValue;

  // The provider name reported in metrics and history.
  virtual std::string_view providerName() const = 0;
  // The rate of the linear16 mono audio `send` expects.
  virtual int sampleRate() const = 0;

  virtual void start(RecognitionHints hints) = 0;
  // Raw little-endian 16-bit mono samples at `sampleRate()`.
  virtual void send(std::string linear16) = 0;
  virtual void finish(FinishCompletion completion) = 0;
  virtual void cancel() = 0;
};

}  // namespace sorvane
