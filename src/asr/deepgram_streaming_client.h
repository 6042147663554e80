// The second realtime recogniser: Deepgram's live transcription socket. Streams linear16
// mono audio at the capture device's rate as binary frames, assembles the transcript
// from final and interim "Results", and on `finish` sends "CloseStream" and delivers the
// text after a fixed 0.55 s (results arriving within it are included).
//
// Queues: state on "app.sorvane.deepgram.state" (`send`, `finish`, `cancel`, the
// socket's events, the finish wait); socket sends on "app.sorvane.deepgram.send";
// `onTranscript` and completions on the main queue. The vocabulary hints of `start`
// are not used: the service is primed with nine fixed key terms in the URL. Audio sent
// while the connection still opens waits in the port, in order. A lost connection is
// logged once and not re-opened; the finish still completes after its wait. Server
// messages are untrusted (see `parseDeepgramResult`); nothing logged contains the key.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "asr/realtime_recognizer_client.h"

namespace sorvane {

class Dispatcher;
class WebSocketClient;
struct ProviderSettings;

namespace deepgram {
inline constexpr std::string_view kProviderName = "deepgram-streaming";
inline constexpr std::string_view kStateQueue = "app.sorvane.deepgram.state";
inline constexpr std::string_view kSendQueue = "app.sorvane.deepgram.send";
inline constexpr std::chrono::milliseconds kFinishWait{550};
inline constexpr std::chrono::milliseconds kConnectTimeout{15000};
inline constexpr std::string_view kLanguage = "zh-CN";
inline constexpr int kEndpointingMs = 300;
inline constexpr int kUtteranceEndMs = 1000;
inline constexpr std::array<std::string_view, 9> kKeyTerms{"Murmly", "DeepSeek", "Deepgram", "OpenAI", "Codex",
                                                           "Cloudflare", "Worker", "API", "ASR"};
}  // namespace deepgram

struct DeepgramResult {
  std::string text;  // trimmed
  bool isFinal = false;
  bool speechFinal = false;
};
// A "Results" message (or one without "type"): the first alternative's transcript of
// its "channel" object. Nothing for other types, a "channel" that is not an object (the
// array of "UtteranceEnd"), an empty "alternatives", wrong types or invalid JSON.
std::optional<DeepgramResult> parseDeepgramResult(std::string_view frame);

class DeepgramStreamingClient final : public RealtimeRecognizerClient {
 public:
  // The endpoint is `providers.deepgramListenURL` with the query items of the service;
  // the model is `providers.deepgramModel`.
  DeepgramStreamingClient(Dispatcher& dispatcher, WebSocketClient& sockets, std::string apiKey, int sampleRate,
                          const ProviderSettings& providers);

  std::string_view providerName() const override { return deepgram::kProviderName; }
  int sampleRate() const override { return sampleRate_; }

 private:
  int sampleRate_;
};

}  // namespace sorvane
