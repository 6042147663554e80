#include "support/loopback_llm_servers.h"

#include "core/json.h"

namespace sorvane::testing {
namespace {

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string pathWithoutQuery(std::string_view path) { return std::string(path.substr(0, path.find('?'))); }

std::string chatBody(const std::string& content) {
  return Json{{"id", "loopback"}, {"object", "chat.completion"},
              {"choices", Json::array({Json{{"index", 0}, {"finish_reason", "stop"},
                                            {"message", Json{{"role", "assistant"}, {"content", content}}}}})}}
      .dump();
}

}  // namespace

ScriptedReply ScriptedReply::answer(std::string text) {
  ScriptedReply reply;
  reply.answerText = std::move(text);
  return reply;
}

ScriptedReply ScriptedReply::content(std::string content) {
  ScriptedReply reply;
  reply.contentText = std::move(content);
  return reply;
}

ScriptedReply ScriptedReply::status(int status, std::string body) {
  ScriptedReply reply;
  reply.response = LoopbackResponse::make(status, std::move(body), {{"Content-Type", "application/json"}});
  return reply;
}

ScriptedReply ScriptedReply::body(std::string body) {
  ScriptedReply reply;
  reply.response = LoopbackResponse::make(200, std::move(body));
  return reply;
}

ScriptedReply ScriptedReply::stall() {
  ScriptedReply reply;
  reply.response = LoopbackResponse::held();
  return reply;
}

ScriptedReply ScriptedReply::drop() {
  ScriptedReply reply;
  reply.response.delivery = LoopbackResponse::Delivery::closeWithoutAnswer;
  return reply;
}

ScriptedReply ScriptedReply::oversized(std::size_t bytes) {
  ScriptedReply reply;
  Json body = {{"choices", Json::array({Json{{"message", Json{{"content", "{\"text\":\"padded\"}"}}}}})},
               {"cleanedSourceText", "padded"},
               {"padding", std::string(bytes, 'x')}};
  reply.response = LoopbackResponse::make(200, body.dump());
  return reply;
}

ScriptedReply ScriptedReply::echo() {
  ScriptedReply reply;
  reply.echoesRawTranscript = true;
  return reply;
}

ScriptedReply ScriptedReply::after(std::chrono::milliseconds delay) && {
  response.delay = delay;
  return std::move(*this);
}

ScriptedLoopbackServer::ScriptedLoopbackServer(Protocol protocol)
    : protocol_(protocol), server_([this](const LoopbackRequest& request) { return respond(request); }) {}

void ScriptedLoopbackServer::script(std::vector<ScriptedReply> replies) {
  std::lock_guard lock(mutex_);
  script_.assign(replies.begin(), replies.end());
}

std::string ScriptedLoopbackServer::baseURL() const { return server_.url(""); }

std::optional<std::string> ScriptedLoopbackServer::rawTranscriptOf(const LoopbackRequest& request) {
  auto body = parseJsonObject(request.body);
  if (!body) return std::nullopt;
  if (auto raw = jsonString(*body, "rawTranscript")) return raw;  // the worker body
  auto messages = body->find("messages");
  if (messages == body->end() || !messages->is_array() || messages->size() < 2) return std::nullopt;
  auto content = jsonString((*messages)[1], "content");
  if (!content) return std::nullopt;
  auto user = parseJsonObject(*content);
  if (!user) return content;  // a user message that is not JSON is the transcript itself
  return jsonString(*user, "rawTranscript");
}

LoopbackResponse ScriptedLoopbackServer::respond(const LoopbackRequest& request) {
  const std::string path = pathWithoutQuery(request.path);
  const bool known = protocol_ == Protocol::chatCompletions ? endsWith(path, "/chat/completions")
                                                            : path == "/api/interpret";
  if (request.method != "POST" || !known) return LoopbackResponse::make(404, "{\"error\":\"not found\"}");
  ScriptedReply reply;
  {
    std::lock_guard lock(mutex_);
    if (!script_.empty()) {
      reply = script_.front();
      if (script_.size() > 1) script_.pop_front();
    } else {
      reply.echoesRawTranscript = true;
    }
  }
  if (reply.echoesRawTranscript) reply.answerText = rawTranscriptOf(request).value_or("");
  return render(reply, request);
}

LoopbackResponse ScriptedLoopbackServer::render(const ScriptedReply& reply, const LoopbackRequest&) const {
  LoopbackResponse response = reply.response;
  std::optional<std::string> body;
  if (reply.answerText) {
    body = protocol_ == Protocol::chatCompletions ? chatBody(Json{{"text", *reply.answerText}}.dump())
                                                  : Json{{"cleanedSourceText", *reply.answerText}}.dump();
  } else if (reply.contentText) {
    body = protocol_ == Protocol::chatCompletions ? chatBody(*reply.contentText)
                                                  : Json{{"cleanedSourceText", *reply.contentText}}.dump();
  }
  if (body) {
    response.status = 200;
    response.body = std::move(*body);
    response.headers = {{"Content-Type", "application/json"}};
  }
  return response;
}

}  // namespace sorvane::testing
