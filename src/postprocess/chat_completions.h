// What the refinement, translation and style transforms send to the language models and
// to the worker endpoint, and how their answers are read.
//
// Every direct model call is one chat-completions POST with a system message and one
// user message whose content is a JSON text (the raw transcript plus the input context).
// The worker endpoint takes its own body. The builders here are pure: the refiner owns
// the network side and calls them on whatever queue it prepares a request on. Answers
// are read leniently: a model may wrap its JSON in code fences, skip the JSON wrapper, or
// put a reasoning block before it; `parseDirectModelText` copes with all three.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "context/input_context.h"
#include "core/json.h"
#include "postprocess/refine_profile.h"

namespace sorvane {

inline constexpr std::string_view kQwenChatModel = "qwen-plus";
inline constexpr std::string_view kDeepSeekChatPath = "/chat/completions";
inline constexpr std::string_view kQwenChatPath = "/compatible-mode/v1/chat/completions";
inline constexpr std::string_view kWorkerPath = "/api/interpret";

// {"model", "temperature", "max_tokens", "messages": [system, user]}. A whole-number
// temperature is written as an integer.
Json chatCompletionsBody(std::string_view model, double temperature, int maxTokens,
                         std::string_view systemPrompt, std::string_view userMessage);

// The context members shared by every user object: "context", "contextText",
// "audioContext", "modeMetadata", "clientMetadata", "inputBoxIdentifier"; filled from the
// context when the profile includes it, else empty values of the same types.
Json contextRequestFields(const InputContext& context, const RefineProfile& profile);

// The user message of a refinement request, as JSON text.
std::string refinementUserMessage(std::string_view raw, const InputContext& context,
                                  const RefineProfile& profile);
// Serialises a user object; invalid UTF-8 is replaced rather than failing. When
// serialisation is impossible anyway, `fallback` is sent as the message.
std::string userMessageText(const Json& object, std::string_view fallback);

// The body POSTed to the worker endpoint.
Json workerRequestBody(std::string_view raw, const InputContext& context, const RefineProfile& profile);

// "choices"[0]."message"."content" of a reply body, when it is a string.
std::optional<std::string> chatCompletionContent(std::string_view body);

// The trimmed "text" string of a JSON object, or nothing.
std::optional<std::string> parseJSONTextField(std::string_view text);
// The answer text of a model reply's content (see the header comment).
std::string parseDirectModelText(std::string_view content);

}  // namespace sorvane
