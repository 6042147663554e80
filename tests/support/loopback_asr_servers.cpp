#include "support/loopback_asr_servers.h"

#include <mutex>

#include "core/base64.h"

namespace sorvane::testing {
namespace {

std::string dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// Frames a careful client must survive: not JSON, JSON of the wrong shape or types,
// invalid UTF-8 in a binary frame, and finally a frame with a reserved opcode, which
// ends the connection.
void sendGarbage(LoopbackWebSocketPeer& peer) {
  peer.sendText("not json at all {");
  peer.sendText("[1,2,3]");
  peer.sendText(R"({"type":42,"text":["x"],"transcript":{"a":1}})");
  peer.sendText(R"({"type":"conversation.item.input_audio_transcription.text","text":7,"stash":null})");
  peer.sendText(R"({"type":"Results","channel":{"alternatives":[]}})");
  peer.sendText(R"({"type":"Results","channel":[0,1],"is_final":"yes"})");
  peer.sendText(R"({"channel":{"alternatives":[{"transcript":12}]}})");
  peer.sendBinary(std::string("\xff\xfe{\"type\":\"x\"}\xc3", 15));
  peer.sendRaw(webSocketFrame(3, "reserved"));
}

}  // namespace

// ---- realtime ----

struct LoopbackRealtimeServer::State {
  explicit State(RealtimeServerScript s) : script(std::move(s)) {}

  void send(LoopbackWebSocketPeer& peer, const Json& event) {
    if (script.latency.count() > 0 && !peer.pause(script.latency)) return;
    peer.sendText(dump(event));
  }

  void onMessage(LoopbackWebSocketPeer& peer, const ReceivedWebSocketMessage& message) {
    auto event = parseJsonObject(message.payload);
    if (!event) return;
    const std::string type = jsonString(*event, "type").value_or("");
    std::vector<Json> partialsDue;
    bool drop = false;
    {
      std::lock_guard lock(mutex);
      events.push_back(*event);
      if (type == "input_audio_buffer.append") {
        if (auto bytes = base64Decode(jsonString(*event, "audio").value_or(""))) audio += *bytes;
        while (nextPartial < script.partials.size() && audio.size() >= script.partials[nextPartial].afterAudioBytes) {
          const auto& partial = script.partials[nextPartial++];
          partialsDue.push_back({{"type", "conversation.item.input_audio_transcription.text"},
                                 {"item_id", "item_1"},
                                 {"text", partial.text},
                                 {"stash", partial.stash}});
        }
        drop = script.dropAfterAudioBytes && audio.size() >= *script.dropAfterAudioBytes;
      }
    }
    if (drop) {
      peer.drop();
      return;
    }
    for (const auto& partial : partialsDue) send(peer, partial);
    if (!partialsDue.empty() && script.garbageAfterFirstPartial && !garbageSent) {
      garbageSent = true;
      sendGarbage(peer);
    }
    if (type == "session.update") {
      send(peer, {{"type", "session.updated"}, {"session", (*event)["session"]}});
    } else if (type == "input_audio_buffer.commit") {
      if (script.errorOnCommit) {
        send(peer, {{"type", "error"}, {"error", {{"code", "invalid_request"}, {"message", "commit refused"}}}});
        return;
      }
      send(peer, {{"type", "input_audio_buffer.committed"}, {"item_id", "item_1"}});
      if (script.completedTranscript) {
        if (script.completedDelay.count() > 0 && !peer.pause(script.completedDelay)) return;
        send(peer, {{"type", "conversation.item.input_audio_transcription.completed"},
                    {"item_id", "item_1"},
                    {"transcript", *script.completedTranscript}});
      }
    } else if (type == "session.finish") {
      send(peer, {{"type", "session.finished"}});
      peer.close(1000, "finished");
    }
  }

  RealtimeServerScript script;
  mutable std::mutex mutex;
  std::vector<Json> events;
  std::string audio;
  std::size_t nextPartial = 0;
  bool garbageSent = false;  // only the connection's thread touches it
};

LoopbackRealtimeServer::LoopbackRealtimeServer(RealtimeServerScript script)
    : state_(std::make_shared<State>(std::move(script))) {
  LoopbackWebSocketServer::Handlers handlers;
  handlers.onHandshake = [state = state_](const WebSocketHandshake&) {
    return HandshakeAnswer{state->script.acceptDelay, state->script.handshakeStatus};
  };
  handlers.onOpen = [state = state_](LoopbackWebSocketPeer& peer) {
    state->send(peer, {{"type", "session.created"}, {"session", {{"id", "sess_loopback"}}}});
  };
  handlers.onMessage = [state = state_](LoopbackWebSocketPeer& peer, const ReceivedWebSocketMessage& message) {
    state->onMessage(peer, message);
  };
  server_ = std::make_unique<LoopbackWebSocketServer>(std::move(handlers));
}

LoopbackRealtimeServer::~LoopbackRealtimeServer() = default;

std::string LoopbackRealtimeServer::realtimeURL() const { return server_->url("/api-ws/v1/realtime"); }

std::vector<Json> LoopbackRealtimeServer::events() const {
  std::lock_guard lock(state_->mutex);
  return state_->events;
}

std::vector<std::string> LoopbackRealtimeServer::eventTypes() const {
  std::vector<std::string> types;
  for (const auto& event : events()) types.push_back(jsonString(event, "type").value_or(""));
  return types;
}

std::string LoopbackRealtimeServer::audio() const {
  std::lock_guard lock(state_->mutex);
  return state_->audio;
}

// ---- live ----

std::string liveResultsMessage(const std::string& transcript, bool isFinal, bool speechFinal) {
  return dump({{"type", "Results"},
               {"channel_index", {0, 1}},
               {"duration", 0.5},
               {"start", 0.0},
               {"is_final", isFinal},
               {"speech_final", speechFinal},
               {"channel", {{"alternatives", {{{"transcript", transcript}, {"confidence", 0.9}}}}}}});
}

struct LoopbackLiveServer::State {
  explicit State(LiveServerScript s) : script(std::move(s)) {}

  void send(LoopbackWebSocketPeer& peer, const std::string& text) {
    if (script.latency.count() > 0 && !peer.pause(script.latency)) return;
    peer.sendText(text);
  }

  void onMessage(LoopbackWebSocketPeer& peer, const ReceivedWebSocketMessage& message) {
    std::vector<std::string> due;
    bool drop = false;
    {
      std::lock_guard lock(mutex);
      if (message.binary) {
        audio += message.payload;
        while (next < script.results.size() && audio.size() >= script.results[next].afterAudioBytes) {
          const auto& result = script.results[next++];
          due.push_back(liveResultsMessage(result.transcript, result.isFinal, result.speechFinal));
        }
        drop = script.dropAfterAudioBytes && audio.size() >= *script.dropAfterAudioBytes;
      } else {
        texts.push_back(message.payload);
      }
    }
    if (drop) {
      peer.drop();
      return;
    }
    for (const auto& text : due) send(peer, text);
    if (!due.empty() && script.garbageAfterFirstResult && !garbageSent) {
      garbageSent = true;
      sendGarbage(peer);
    }
    if (message.binary) return;
    auto event = parseJsonObject(message.payload);
    if (!event || jsonString(*event, "type").value_or("") != "CloseStream") return;
    for (const auto& result : script.closingResults) {
      send(peer, liveResultsMessage(result.transcript, result.isFinal, result.speechFinal));
    }
    send(peer, dump({{"type", "UtteranceEnd"}, {"channel", {0, 1}}, {"last_word_end", 1.2}}));
    send(peer, dump({{"type", "Metadata"}, {"request_id", "loopback"}, {"duration", 1.5}, {"channels", 1}}));
    peer.close(1000, "");
  }

  LiveServerScript script;
  mutable std::mutex mutex;
  std::string audio;
  std::vector<std::string> texts;
  std::size_t next = 0;
  bool garbageSent = false;  // only the connection's thread touches it
};

LoopbackLiveServer::LoopbackLiveServer(LiveServerScript script) : state_(std::make_shared<State>(std::move(script))) {
  LoopbackWebSocketServer::Handlers handlers;
  handlers.onHandshake = [state = state_](const WebSocketHandshake&) {
    return HandshakeAnswer{state->script.acceptDelay, state->script.handshakeStatus};
  };
  handlers.onMessage = [state = state_](LoopbackWebSocketPeer& peer, const ReceivedWebSocketMessage& message) {
    state->onMessage(peer, message);
  };
  server_ = std::make_unique<LoopbackWebSocketServer>(std::move(handlers));
}

LoopbackLiveServer::~LoopbackLiveServer() = default;

std::string LoopbackLiveServer::listenURL() const { return server_->url("/v1/listen"); }

std::string LoopbackLiveServer::audio() const {
  std::lock_guard lock(state_->mutex);
  return state_->audio;
}

std::vector<std::string> LoopbackLiveServer::textMessages() const {
  std::lock_guard lock(state_->mutex);
  return state_->texts;
}

}  // namespace sorvane::testing
