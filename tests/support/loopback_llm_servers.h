// Loopback stand-ins for the language-model services and the worker endpoint, built on
// `LoopbackHttpServer`, for tests over real sockets and for trying the app by hand
// (point providers.json at `baseURL()`).
//
// `LoopbackChatServer` answers POSTs to any path ending in "/chat/completions" in the
// chat-completions shape: {"choices":[{"message":{"content": ...}}]}. `LoopbackWorkerServer`
// answers POSTs to "/api/interpret" with {"cleanedSourceText": ...}. Each request takes
// the next scripted reply (the last one repeats); with no script a server echoes the
// request's raw transcript back as the answer, like a model that changes nothing.
// A reply can carry any status and body, a delay, a stall that never answers (until the
// server is destroyed), a dropped connection, or an oversized body. Requests are
// recorded as received (headers included, so tests can check what travelled).
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/loopback_http_server.h"

namespace sorvane::testing {

struct ScriptedReply {
  LoopbackResponse response;

  // 200 with the answer text in the service's shape ({"text": ...} inside the chat
  // content; "cleanedSourceText" for the worker).
  static ScriptedReply answer(std::string text);
  // 200 whose chat content is exactly `content` (not wrapped in {"text": ...}).
  static ScriptedReply content(std::string content);
  static ScriptedReply status(int status, std::string body = "{\"error\":\"scripted\"}");
  // 200 with this body as it stands (non-JSON, no choices, ...).
  static ScriptedReply body(std::string body);
  static ScriptedReply stall();
  static ScriptedReply drop();
  // 200 with a valid answer padded beyond `bytes`.
  static ScriptedReply oversized(std::size_t bytes);
  // 200 answering with the request's own raw transcript (what an empty script does), so
  // the echo can carry a delay.
  static ScriptedReply echo();

  ScriptedReply after(std::chrono::milliseconds delay) &&;

  // Set by the server for the answer and content forms, which depend on the protocol.
  std::optional<std::string> answerText;
  std::optional<std::string> contentText;
  bool echoesRawTranscript = false;
};

class ScriptedLoopbackServer {
 public:
  enum class Protocol { chatCompletions, worker };
  explicit ScriptedLoopbackServer(Protocol protocol);
  ScriptedLoopbackServer(const ScriptedLoopbackServer&) = delete;
  ScriptedLoopbackServer& operator=(const ScriptedLoopbackServer&) = delete;

  // Replaces the script.
  void script(std::vector<ScriptedReply> replies);
  // "http://127.0.0.1:<port>", the value for providers.json.
  std::string baseURL() const;
  std::vector<LoopbackRequest> requests() const { return server_.requests(); }
  std::size_t requestCount() const { return server_.requestCount(); }

  // The raw transcript of a recorded request (from the chat user message or the worker
  // body), or nothing.
  static std::optional<std::string> rawTranscriptOf(const LoopbackRequest& request);

 private:
  LoopbackResponse respond(const LoopbackRequest& request);
  LoopbackResponse render(const ScriptedReply& reply, const LoopbackRequest& request) const;

  Protocol protocol_;
  mutable std::mutex mutex_;
  std::deque<ScriptedReply> script_;
  LoopbackHttpServer server_;  // last: stops before the script goes away
};

class LoopbackChatServer : public ScriptedLoopbackServer {
 public:
  LoopbackChatServer() : ScriptedLoopbackServer(Protocol::chatCompletions) {}
};

class LoopbackWorkerServer : public ScriptedLoopbackServer {
 public:
  LoopbackWorkerServer() : ScriptedLoopbackServer(Protocol::worker) {}
};

}  // namespace sorvane::testing
