// The socket half that both realtime recogniser clients share: one turn's connection to
// the service, the sends guarded against a cancel, the key-free log lines, and the
// deliveries to the main queue. Each client derives its protocol from it (the session
// steps, the frames, the transcript) and drives it through `RealtimeRecognizerClient`.
//
//   class MySession final : public RealtimeSession {
//     void start(RecognitionHints) override {
//       if (!openSocket({"my", "Bearer " + apiKey, timeout, maxLoggedChars})) return;
//       log("my websocket started");
//     }
//     void handleMessage(const std::string& frame) override { ... postTranscript(...); }
//     ...
//   };
//
// Queues: everything runs on the session's state queue (the socket's events too), except
// the work handed to `onSocket`, which runs in order on its send queue and is skipped
// once the session is cancelled. A lost connection is logged once and the socket
// dropped; it is not re-opened within the turn, and later sends are dropped quietly.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "asr/streaming_recognizer.h"
#include "core/dispatch.h"
#include "net/web_socket.h"

namespace sorvane {

class RealtimeSession : public std::enable_shared_from_this<RealtimeSession> {
 public:
  using TranscriptCallback = StreamingRecognizer::TranscriptCallback;
  using MarkCallback = StreamingRecognizer::MarkCallback;
  using ValueCallback = StreamingRecognizer::ValueCallback;
  using FinishCompletion = StreamingRecognizer::FinishCompletion;

  // `dispatcher` and `sockets` outlive the session.
  RealtimeSession(Dispatcher& dispatcher, WebSocketClient& sockets, std::string_view stateQueueLabel,
                  std::string_view sendQueueLabel, std::string apiKey, std::string endpoint);
  virtual ~RealtimeSession() = default;
  RealtimeSession(const RealtimeSession&) = delete;
  RealtimeSession& operator=(const RealtimeSession&) = delete;

  // Takes the owner's callbacks, then starts the turn (on the state queue).
  void begin(RecognitionHints hints, TranscriptCallback transcript, MarkCallback markCallback,
             ValueCallback valueCallback);
  // On the state queue, as the client's calls of the same names.
  virtual void send(std::string bytes) = 0;
  virtual void finish(FinishCompletion completion) = 0;
  // Stops every send not yet made and closes the socket (going away); no event follows.
  void cancel();

  // Its client posts onto the state queue and reports the endpoint.
  friend class RealtimeRecognizerClient;

 protected:
  struct SocketOptions {
    std::string_view logPrefix;  // leads every log line of the socket: "qwen", "deepgram"
    std::string authorization;   // the value of the "Authorization" header
    std::chrono::milliseconds timeout;
    std::size_t maxLoggedChars;  // of a failure's description
  };

  virtual void start(RecognitionHints hints) = 0;
  // One whole text or binary frame from the server (untrusted).
  virtual void handleMessage(const std::string& frame) = 0;

  // Connects to the endpoint; false (and logged) when it is no WebSocket URL.
  bool openSocket(SocketOptions options);
  // Runs `work` with the socket on the send queue, unless the session is cancelled by
  // then; nothing when there is no socket (never opened, or lost).
  template <typename F>
  void onSocket(F work) {
    if (!socket) return;
    sendQueue.post([socket = socket, cancelled = cancelled, work = std::move(work)]() mutable {
      if (!cancelled->load()) work(*socket);
    });
  }

  void log(std::string_view message) const;
  void mark(std::string_view name) const {
    if (onMark) onMark(name);
  }
  void value(std::string_view key, const Json& v) const {
    if (onValue) onValue(key, v);
  }
  // `onTranscript` (when set) with this text, on the main queue.
  void postTranscript(std::string text, bool isFinal) const;
  // `completion` (when set) with this text, on the main queue.
  void deliverText(FinishCompletion completion, std::string text) const;

  Dispatcher& dispatcher;
  WebSocketClient& sockets;
  SerialQueue& stateQueue;
  SerialQueue& sendQueue;
  const std::string apiKey;
  const std::string endpoint;
  TranscriptCallback onTranscript;
  MarkCallback onMark;
  ValueCallback onValue;

  // Read by the send queue as well.
  std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
  // Shared with the send tasks in flight, so a cancel never pulls it from under them.
  std::shared_ptr<WebSocketConnection> socket;
};

}  // namespace sorvane
