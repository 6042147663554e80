// Prompts, request bodies and answer cleanup of the two model-backed recording modes:
// translation into English and the one-shot style transform.
//
// Both follow the shared chat-completions convention (chat_completions.h) with their own
// system prompt, temperature, token budget and user object; the refiner sends them and
// passes the answer through `parseDirectModelText` and then the cleaner here. Neither
// mode uses the refinement guards. Pure functions, any queue.
#pragma once

#include <string>
#include <string_view>

#include "context/input_context.h"
#include "core/json.h"
#include "postprocess/recording_mode.h"
#include "postprocess/refine_profile.h"

namespace sorvane {

inline constexpr std::string_view kStyleContextSchemaVersion = "sorvane-context-v9-one-shot-style";
inline constexpr std::string_view kTranslationContextSchemaVersion = "sorvane-context-v8-translation-mode";

std::string styleSystemPrompt(VoiceStylePreset preset, const InputContext& context);
std::string translationSystemPrompt(const InputContext& context);

std::string styleUserMessage(std::string_view raw, VoiceStylePreset preset, const InputContext& context,
                             const RefineProfile& profile);
std::string translationUserMessage(std::string_view raw, const InputContext& context, const RefineProfile& profile);

// Complete chat-completions bodies for `model` ("deepseek-chat" or "qwen-plus").
Json styleRequestBody(std::string_view model, std::string_view raw, VoiceStylePreset preset,
                      const InputContext& context, const RefineProfile& profile);
Json translationRequestBody(std::string_view model, std::string_view raw, const InputContext& context,
                            const RefineProfile& profile);

// Drops a leading "Translation:"-style label and surrounding quotes.
std::string normalizeEnglishTranslationOutput(std::string_view text);
// Drops a leading "结果："-style label and surrounding quotes, then formats for pasting.
std::string normalizeStyleOutput(std::string_view text);

}  // namespace sorvane
