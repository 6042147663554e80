// The realtime recogniser client for the DashScope realtime endpoint running the
// "qwen3-asr-flash-realtime" model: streams one turn's 16 kHz linear16 audio as Base64
// JSON events, keeps the best running transcript from the server's partial and completed
// events, and on `finish` pads the stream with 560 ms of silence, commits, ends the
// session and completes with the first of: the completed event, 320 ms without a new
// partial, or 1.55 s.
//
// Queues: all state lives on "app.sorvane.qwen.state" (`send`, `finish`, `cancel`, the
// session steps, the socket's events and every timer); serialisation and socket sends
// run in order on "app.sorvane.qwen.send"; `onTranscript` and completions on the main
// queue. The session update goes out 0.12 s after `start` and the session counts as
// configured 0.08 s later; audio that arrives before is held (at most the newest 32000
// bytes) and sent by the configure step itself, ahead of anything sent meanwhile. A
// `finish` before that configures at once, so the opening audio always precedes the
// silence and the commit. Once configured, audio goes straight to the port, which holds
// it in order while a slow connection still opens.
//
// A lost connection is not re-opened within the turn: it is logged once, the socket is
// dropped, and the finish ends through its timers with the text that arrived. Server
// messages are untrusted: wrong types and invalid UTF-8 count as absent, logged error
// frames are cut short, and nothing logged ever contains the API key.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "asr/realtime_recognizer_client.h"

namespace sorvane {

class Dispatcher;
class WebSocketClient;
struct ProviderSettings;

namespace qwen {
inline constexpr std::string_view kProviderName = "qwen3-asr-flash-realtime";
inline constexpr std::string_view kStateQueue = "app.sorvane.qwen.state";
inline constexpr std::string_view kSendQueue = "app.sorvane.qwen.send";
inline constexpr int kSampleRate = 16000;
inline constexpr std::chrono::milliseconds kSessionUpdateDelay{120};
inline constexpr std::chrono::milliseconds kSessionFlushDelay{80};
inline constexpr std::size_t kMaxPendingAudioBytes = 32000;  // 1 s before configuration
inline constexpr std::size_t kTailSilenceBytes = 17920;      // 560 ms at 16 kHz
inline constexpr std::chrono::milliseconds kTailSilence{560};
inline constexpr std::chrono::milliseconds kCommitDelay{40};
inline constexpr std::chrono::milliseconds kStablePartialDelay{320};
inline constexpr std::chrono::milliseconds kMaxFinalizeWait{1550};
inline constexpr std::chrono::milliseconds kConnectTimeout{15000};
inline constexpr std::size_t kMaxLoggedFrameChars = 300;
inline constexpr std::string_view kLanguage = "zh";
}  // namespace qwen

// One server frame as the client reads it.
struct QwenServerEvent {
  enum class Kind { ignored, error, transcription };
  Kind kind = Kind::ignored;
  std::string type;
  // Each trimmed; empty when missing or not a string.
  std::string text, transcript, stash, delta;
};
QwenServerEvent parseQwenServerEvent(std::string_view frame);

class QwenStreamingClient final : public RealtimeRecognizerClient {
 public:
  // The endpoint is `providers.dashscopeRealtimeURL` with "?model=" and
  // `providers.qwenRealtimeModel`. `sockets` and `dispatcher` outlive the client.
  QwenStreamingClient(Dispatcher& dispatcher, WebSocketClient& sockets, std::string apiKey,
                      const ProviderSettings& providers);

  std::string_view providerName() const override { return qwen::kProviderName; }
  int sampleRate() const override { return qwen::kSampleRate; }
};

}  // namespace sorvane
