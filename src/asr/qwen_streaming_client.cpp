#include "asr/qwen_streaming_client.h"

#include <optional>
#include <vector>

#include "asr/realtime_session.h"
#include "asr/recognizer_support.h"
#include "asr/transcript_merge.h"
#include "core/base64.h"
#include "core/config_folder.h"
#include "core/recognition_hints.h"
#include "core/unicode_text.h"
#include "net/web_socket.h"

namespace sorvane {

QwenServerEvent parseQwenServerEvent(std::string_view frame) {
  QwenServerEvent event;
  auto object = parseJsonObject(frame);
  if (!object) return event;
  event.type = jsonString(*object, "type").value_or("");
  if (text::contains(event.type, "error") || object->contains("error")) {
    event.kind = QwenServerEvent::Kind::error;
    return event;
  }
  if (!text::contains(event.type, "input_audio_transcription")) return event;
  event.kind = QwenServerEvent::Kind::transcription;
  event.text = text::trim(jsonString(*object, "text").value_or(""));
  event.transcript = text::trim(jsonString(*object, "transcript").value_or(""));
  event.stash = text::trim(jsonString(*object, "stash").value_or(""));
  event.delta = text::trim(jsonString(*object, "delta").value_or(""));
  return event;
}

namespace {

class QwenSession final : public RealtimeSession {
 public:
  QwenSession(Dispatcher& d, WebSocketClient& s, std::string key, std::string url, std::string m)
      : RealtimeSession(d, s, qwen::kStateQueue, qwen::kSendQueue, std::move(key), std::move(url)),
        model(std::move(m)) {}

  // ---- helpers ----
  std::weak_ptr<QwenSession> weak() { return std::static_pointer_cast<QwenSession>(weak_from_this().lock()); }
  // A task on the state queue that does nothing once the client is gone.
  template <typename F>
  Task onState(F f) {
    return [weak = weak(), f = std::move(f)]() mutable {
      if (auto self = weak.lock()) f(*self);
    };
  }

  std::string currentTranscript() const {
    const std::string confirmed = text::trim(finalText);
    return confirmed.empty() ? text::trim(latestText) : confirmed;
  }

  void sendJSON(Json message) {
    onSocket([message = std::move(message)](WebSocketConnection& connection) {
      connection.sendText(wireJson(message));
    });
  }

  // Audio goes out as text built directly: Base64 needs no JSON escaping.
  static std::string appendMessage(std::string_view bytes) {
    return R"({"audio":")" + base64Encode(bytes) + R"(","type":"input_audio_buffer.append"})";
  }

  void sendAudio(std::string bytes) {
    onSocket([bytes = std::move(bytes)](WebSocketConnection& connection) {
      connection.sendText(appendMessage(bytes));
    });
  }

  // The tail silence is the same message every turn.
  void sendTailSilence() {
    static const std::string message = appendMessage(std::string(qwen::kTailSilenceBytes, '\0'));
    onSocket([](WebSocketConnection& connection) { connection.sendText(message); });
  }

  // ---- steps ----
  void start(RecognitionHints h) override {
    hints = std::move(h);
    if (!openSocket({"qwen", "Bearer " + apiKey, qwen::kConnectTimeout, qwen::kMaxLoggedFrameChars})) return;
    value("qwenSessionUpdateDelayMs", qwen::kSessionUpdateDelay.count());
    stateQueue.postAfter(qwen::kSessionUpdateDelay, onState([](QwenSession& s) { s.sendSessionUpdate(); }));
    log("qwen websocket started");
  }

  void sendSessionUpdate() {
    if (cancelled->load() || sessionUpdateSent) return;
    sessionUpdateSent = true;
    std::vector<std::string> parts;
    if (hints.includeBuiltInHints) parts.emplace_back(kBuiltInRecognitionHints);
    const std::string corpus = text::trim(hints.dictionaryCorpusText);
    if (!corpus.empty()) parts.push_back(corpus);
    const std::string joined = text::join(parts, ", ");
    value("qwenCorpusHint", hints.includeBuiltInHints);
    value("qwenUserDictionaryTerms", corpus.empty() ? 0 : hints.dictionaryTermCount);

    Json transcription = {{"model", model}, {"language", qwen::kLanguage}};
    if (!joined.empty()) transcription["corpus"] = {{"text", joined}};
    sendJSON({{"type", "session.update"},
              {"session",
               {{"input_audio_format", "pcm"},
                {"sample_rate", qwen::kSampleRate},
                {"turn_detection", nullptr},
                {"input_audio_transcription", transcription}}}});
    mark("qwenSessionUpdateSent");
    value("qwenSessionFlushDelayMs", qwen::kSessionFlushDelay.count());
    stateQueue.postAfter(qwen::kSessionFlushDelay, onState([](QwenSession& s) { s.configure(); }));
  }

  // Releases the held audio itself, in order, before any later `send` can run.
  void configure() {
    if (cancelled->load() || sessionConfigured) return;
    sessionConfigured = true;
    auto buffered = std::move(pendingAudio);
    pendingAudio.clear();
    pendingAudioBytes = 0;
    for (auto& chunk : buffered) sendAudio(std::move(chunk));
    mark("qwenSessionConfigured");
    value("qwenPendingFlushBuffers", buffered.size());
    log("qwen session configured flushedBuffers=" + std::to_string(buffered.size()));
  }

  void send(std::string bytes) override {
    if (isFinishing || cancelled->load() || !socket || bytes.empty()) return;
    if (sessionConfigured) {
      sendAudio(std::move(bytes));
      return;
    }
    pendingAudioBytes += bytes.size();
    pendingAudio.push_back(std::move(bytes));
    while (pendingAudioBytes > qwen::kMaxPendingAudioBytes && !pendingAudio.empty()) {
      pendingAudioBytes -= pendingAudio.front().size();
      pendingAudio.erase(pendingAudio.begin());
    }
  }

  void handleMessage(const std::string& frame) override {
    if (cancelled->load()) return;
    const QwenServerEvent event = parseQwenServerEvent(frame);
    switch (event.kind) {
      case QwenServerEvent::Kind::ignored:
        return;
      case QwenServerEvent::Kind::error:
        log("qwen error " + boundedForLog(frame, qwen::kMaxLoggedFrameChars));
        return;
      case QwenServerEvent::Kind::transcription:
        handleTranscription(event);
        return;
    }
  }

  void handleTranscription(const QwenServerEvent& event) {
    const std::string previous = currentTranscript();
    const std::string& primary = event.text.empty() ? event.transcript : event.text;
    const std::string candidate = bestTranscriptCandidate(primary, event.stash, event.delta, previous);
    const bool completed = text::contains(event.type, "completed");
    if (candidate.empty() && !completed) return;
    if (!candidate.empty()) latestText = candidate;

    value("qwenLastEventType", event.type);
    value("qwenLastTextChars", text::graphemeCount(event.text));
    value("qwenLastTranscriptChars", text::graphemeCount(event.transcript));
    value("qwenLastStashChars", text::graphemeCount(event.stash));
    value("qwenLastDeltaChars", text::graphemeCount(event.delta));
    value("qwenLatestCandidateChars", text::graphemeCount(currentTranscript()));

    if (completed) {
      finalText = candidate.empty() ? currentTranscript() : candidate;
      mark("qwenFinalEventReceived");
      if (isFinishing) completeFinish("final-event", std::nullopt, std::nullopt);
    } else if (isFinishing) {
      mark("qwenPartialAfterFinish");
      value("qwenPartialAfterFinishChars", text::graphemeCount(currentTranscript()));
      scheduleStableFinish();
    }
    postTranscript(currentTranscript(), completed);
  }

  void finish(FinishCompletion completion) override {
    if (cancelled->load()) {
      deliver(std::move(completion));
      return;
    }
    if (isFinishing) {
      // A second finish shares the first one's outcome instead of replacing its completion.
      if (didCompleteFinish) {
        deliver(std::move(completion));
      } else {
        finishCompletions.push_back(std::move(completion));
      }
      return;
    }
    // Whatever audio is held goes out before the silence and the commit.
    if (!sessionConfigured && socket) {
      sendSessionUpdate();
      configure();
    }
    isFinishing = true;
    didCompleteFinish = false;
    const int generation = ++finishGeneration;
    ++stableFinishGeneration;
    finishCompletions.push_back(std::move(completion));

    mark("qwenFinishStart");
    value("qwenTailSilenceMs", qwen::kTailSilence.count());
    value("qwenCommitDelayMs", qwen::kCommitDelay.count());
    value("qwenStablePartialDelayMs", qwen::kStablePartialDelay.count());
    value("qwenMaxFinalizeWaitMs", qwen::kMaxFinalizeWait.count());
    // Not through `send`: the finishing flag must not drop it, and it needs no session.
    sendTailSilence();
    stateQueue.postAfter(qwen::kCommitDelay, onState([](QwenSession& s) {
                           if (s.cancelled->load()) return;
                           s.mark("qwenCommitSent");
                           s.sendJSON({{"type", "input_audio_buffer.commit"}});
                           s.sendJSON({{"type", "session.finish"}});
                         }));
    stateQueue.postAfter(qwen::kMaxFinalizeWait, onState([generation](QwenSession& s) {
                           s.completeFinish("hard-timeout", generation, std::nullopt);
                         }));
  }

  void scheduleStableFinish() {
    const int generation = ++stableFinishGeneration;
    stateQueue.postAfter(qwen::kStablePartialDelay, onState([generation](QwenSession& s) {
                           s.completeFinish("stable-partial", std::nullopt, generation);
                         }));
  }

  void completeFinish(std::string_view reason, std::optional<int> finishGen, std::optional<int> stableGen) {
    if (finishGen && *finishGen != finishGeneration) return;
    if (stableGen && *stableGen != stableFinishGeneration) return;
    if (didCompleteFinish) return;
    didCompleteFinish = true;
    const std::string text = currentTranscript();
    mark("qwenFinishComplete");
    value("qwenFinalizeCompletionReason", reason);
    value("qwenFinishTranscriptChars", text::graphemeCount(text));
    auto completions = std::move(finishCompletions);
    finishCompletions.clear();
    for (auto& completion : completions) deliver(std::move(completion), text);
  }

  void deliver(FinishCompletion completion) { deliver(std::move(completion), currentTranscript()); }
  void deliver(FinishCompletion completion, std::string text) { deliverText(std::move(completion), std::move(text)); }

  const std::string model;
  RecognitionHints hints;
  std::string latestText;
  std::string finalText;
  bool isFinishing = false;
  bool didCompleteFinish = false;
  bool sessionUpdateSent = false;
  bool sessionConfigured = false;
  std::vector<std::string> pendingAudio;
  std::size_t pendingAudioBytes = 0;
  int finishGeneration = 0;
  int stableFinishGeneration = 0;
  std::vector<FinishCompletion> finishCompletions;
};

std::string realtimeEndpoint(const ProviderSettings& providers) {
  const std::string& base = providers.dashscopeRealtimeURL;
  return base + (base.find('?') == std::string::npos ? "?" : "&") + "model=" + providers.qwenRealtimeModel;
}

}  // namespace

QwenStreamingClient::QwenStreamingClient(Dispatcher& dispatcher, WebSocketClient& sockets, std::string apiKey,
                                         const ProviderSettings& providers)
    : RealtimeRecognizerClient(std::make_shared<QwenSession>(dispatcher, sockets, std::move(apiKey),
                                                             realtimeEndpoint(providers), providers.qwenRealtimeModel)) {}

}  // namespace sorvane
