// Named refinement presets and the prompts they produce.
//
// A `RefineProfile` is a plain value chosen once per turn with `RefineProfile::named`
// (the benchmark passes a profile name; the application uses the default). It fixes the
// remote timeout and token budget, whether the input context goes with the request,
// which structure wording the prompt uses, and whether the number and key-term guard and
// the remote call are enabled at all. `systemPrompt` and `workerInstruction` build the
// Chinese instructions sent to the chat models and to the worker endpoint; their lines
// are product behaviour and change only deliberately. Pure functions, any queue.
#pragma once

#include <string>
#include <string_view>

#include "context/input_context.h"

namespace sorvane {

inline constexpr std::string_view kDefaultRefineProfileID = "context-policy-v7-murmly-structured";

struct RefineProfile {
  std::string id;
  double remoteTimeout = 0;  // seconds, for every remote call of the turn
  int maxTokens = 0;
  bool includeContext = false;
  std::string structureMode;  // "legacy", "conservative", "balanced" or "aggressive"
  std::string styleMode;      // "legacy", "verbatim-contextual", "structured" or "local"
  bool protectKeyTerms = false;
  bool allowWorker = false;  // false: no remote call at all

  // The preset for `id` (compared lower-cased); unknown ids give the default preset.
  static RefineProfile named(std::string_view id = kDefaultRefineProfileID);

  // Lines joined with "\n".
  std::string systemPrompt(const InputContext& context) const;
  // Parts joined with one space.
  std::string workerInstruction(const InputContext& context) const;
};

}  // namespace sorvane
