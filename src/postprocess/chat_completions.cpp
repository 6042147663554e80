#include "postprocess/chat_completions.h"

#include <array>
#include <cmath>

#include <unicode/utf8.h>

#include "core/regex.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

constexpr std::size_t kPromptBlockChars = 4200;

// Latin-script dictation goes to the worker as English, everything else as Chinese.
std::string_view workerLanguage(std::string_view raw) {
  std::size_t asciiLetters = 0;
  std::size_t han = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(raw.data());
  const int32_t length = static_cast<int32_t>(raw.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) ++asciiLetters;
    if (c >= 0x4E00 && c <= 0x9FFF) ++han;
  }
  return asciiLetters > 2 * han ? "en-US" : "zh-CN";
}

}  // namespace

Json chatCompletionsBody(std::string_view model, double temperature, int maxTokens,
                         std::string_view systemPrompt, std::string_view userMessage) {
  Json body = Json::object();
  body["model"] = model;
  if (std::isfinite(temperature) && std::trunc(temperature) == temperature) {
    body["temperature"] = static_cast<int64_t>(temperature);
  } else {
    body["temperature"] = temperature;
  }
  body["max_tokens"] = maxTokens;
  body["messages"] = Json::array({
      Json{{"role", "system"}, {"content", systemPrompt}},
      Json{{"role", "user"}, {"content", userMessage}},
  });
  return body;
}

Json contextRequestFields(const InputContext& context, const RefineProfile& profile) {
  if (!profile.includeContext) {
    return Json{{"context", Json::object()},      {"contextText", ""},
                {"audioContext", Json::object()}, {"modeMetadata", Json::object()},
                {"clientMetadata", Json::object()}, {"inputBoxIdentifier", ""}};
  }
  return Json{{"context", context.apiObject()},
              {"contextText", context.promptBlock(kPromptBlockChars)},
              {"audioContext", context.murmlyLikeAudioContext()},
              {"modeMetadata", context.modeMetadata()},
              {"clientMetadata", context.clientMetadata()},
              {"inputBoxIdentifier", context.inputBoxIdentifier()}};
}

std::string userMessageText(const Json& object, std::string_view fallback) {
  try {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (const std::exception&) {
    return std::string(fallback);
  }
}

std::string refinementUserMessage(std::string_view raw, const InputContext& context,
                                  const RefineProfile& profile) {
  Json object = contextRequestFields(context, profile);
  object["rawTranscript"] = raw;
  object["contextSchemaVersion"] = kContextSchemaVersion;
  object["profile"] = profile.id;
  return userMessageText(object, raw);
}

Json workerRequestBody(std::string_view raw, const InputContext& context, const RefineProfile& profile) {
  const std::string_view language = workerLanguage(raw);
  Json body = {
      {"speaker", "me"},
      {"sourceLanguage", language},
      {"targetLanguage", language},
      {"sourceMode", "cleaned"},
      {"rawTranscript", raw},
      {"preserveVerbatim", true},
      {"preserveProfanity", true},
      {"instruction", profile.workerInstruction(context)},
      {"profile", profile.id},
      {"postProcessMode", profile.structureMode},
  };
  if (!profile.includeContext) {
    body["context"] = Json::array();
    return body;
  }
  const Json audio = context.murmlyLikeAudioContext();
  body["context"] = context.workerContextItems();
  body["appContext"] = context.apiObject();
  body["audioContext"] = audio;
  body["modeMetadata"] = context.modeMetadata();
  body["clientMetadata"] = context.clientMetadata();
  body["inputBoxIdentifier"] = context.inputBoxIdentifier();
  body["contextSchemaVersion"] = kContextSchemaVersion;
  return body;
}

std::optional<std::string> chatCompletionContent(std::string_view body) {
  auto object = parseJsonObject(body);
  if (!object) return std::nullopt;
  auto choices = object->find("choices");
  if (choices == object->end() || !choices->is_array() || choices->empty()) return std::nullopt;
  const Json& first = choices->front();
  if (!first.is_object()) return std::nullopt;
  auto message = first.find("message");
  if (message == first.end()) return std::nullopt;
  return jsonString(*message, "content");
}

std::optional<std::string> parseJSONTextField(std::string_view value) {
  auto object = parseJsonObject(value);
  if (!object) return std::nullopt;
  auto textValue = jsonString(*object, "text");
  if (!textValue) return std::nullopt;
  return text::trim(*textValue);
}

std::string parseDirectModelText(std::string_view content) {
  std::string trimmed = text::trim(content);
  // Reasoning models put their thinking before the answer. A block that never closes
  // holds no answer at all; an empty result sends the turn to the raw-preserving text
  // instead of pasting the model's reasoning.
  if (text::startsWith(trimmed, "<think>")) {
    const auto close = trimmed.find("</think>");
    if (close == std::string::npos) return {};
    trimmed = text::trim(std::string_view(trimmed).substr(close + std::string_view("</think>").size()));
  }
  if (auto value = parseJSONTextField(trimmed)) return *value;
  static const RuleTable kFenceRules{std::array<ReplaceRule, 1>{{{"```(?:json|JSON)?", ""}}}};
  std::string cleaned = text::trim(kFenceRules.apply(trimmed));
  if (auto value = parseJSONTextField(cleaned)) return *value;
  return cleaned;
}

}  // namespace sorvane
