// Loopback servers that speak the realtime recognisers' protocols as the services
// document them, scriptable per test, on top of `LoopbackWebSocketServer`.
//
// Realtime (DashScope-style): the server greets with "session.created", answers
// "session.update" with "session.updated", decodes every "input_audio_buffer.append"
// (Base64 audio) into one recorded byte string, sends the scripted partials
// ("conversation.item.input_audio_transcription.text" with "text" and "stash") as the
// audio passes their thresholds, answers "input_audio_buffer.commit" with
// "input_audio_buffer.committed" and the completed event (with "transcript") when the
// script has one, and "session.finish" with "session.finished" and a normal close.
//
// Live (Deepgram-style): audio arrives as binary frames; scripted "Results" messages
// (channel.alternatives[0].transcript, is_final, speech_final) go out as the audio passes
// their thresholds; "CloseStream" is answered with the scripted closing results, an
// "UtteranceEnd" (whose "channel" is an array), a "Metadata" message and a normal close.
//
// Both can delay the handshake, refuse it with a status, add latency before every
// message they send, drop the connection after some audio, or send garbage frames.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/json.h"
#include "support/loopback_web_socket_server.h"

namespace sorvane::testing {

struct RealtimeServerScript {
  struct Partial {
    std::size_t afterAudioBytes = 0;  // sent once this much audio has arrived
    std::string text;
    std::string stash;
  };
  std::chrono::milliseconds acceptDelay{0};
  int handshakeStatus = 101;
  std::chrono::milliseconds latency{0};  // before every message the server sends
  std::vector<Partial> partials;
  std::optional<std::string> completedTranscript;  // sent after the commit; none: no completed event
  std::chrono::milliseconds completedDelay{0};     // between the commit and the completed event
  std::optional<std::size_t> dropAfterAudioBytes;  // ends the TCP connection without a close frame
  bool garbageAfterFirstPartial = false;           // malformed messages right after the first partial
  bool errorOnCommit = false;                      // an "error" event instead of "committed"
};

class LoopbackRealtimeServer {
 public:
  explicit LoopbackRealtimeServer(RealtimeServerScript script = {});
  ~LoopbackRealtimeServer();

  // The realtime URL as providers.json names it ("ws://127.0.0.1:<port>/api-ws/v1/realtime").
  std::string realtimeURL() const;
  LoopbackWebSocketServer& socket() { return *server_; }

  // The client's events in arrival order.
  std::vector<Json> events() const;
  std::vector<std::string> eventTypes() const;
  // Every audio byte of every append, in order.
  std::string audio() const;
  std::vector<WebSocketHandshake> handshakes() const { return server_->handshakes(); }

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::unique_ptr<LoopbackWebSocketServer> server_;
};

struct LiveServerScript {
  struct Result {
    std::size_t afterAudioBytes = 0;
    std::string transcript;
    bool isFinal = false;
    bool speechFinal = false;
  };
  std::chrono::milliseconds acceptDelay{0};
  int handshakeStatus = 101;
  std::chrono::milliseconds latency{0};
  std::vector<Result> results;       // while audio streams
  std::vector<Result> closingResults;  // after "CloseStream" (thresholds ignored)
  std::optional<std::size_t> dropAfterAudioBytes;
  bool garbageAfterFirstResult = false;  // malformed messages right after the first result
};

class LoopbackLiveServer {
 public:
  explicit LoopbackLiveServer(LiveServerScript script = {});
  ~LoopbackLiveServer();

  // The listen URL as providers.json names it ("ws://127.0.0.1:<port>/v1/listen").
  std::string listenURL() const;
  std::string audio() const;
  std::vector<std::string> textMessages() const;
  std::vector<WebSocketHandshake> handshakes() const { return server_->handshakes(); }

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::unique_ptr<LoopbackWebSocketServer> server_;
};

// A "Results" message as the live service sends it.
std::string liveResultsMessage(const std::string& transcript, bool isFinal, bool speechFinal);

}  // namespace sorvane::testing
