// What the next turn will use, and why: the recogniser and the language model that the
// key files in the configuration folder select, for the dashboard's settings section.
//
// The capture engine picks the recogniser by the key files present (DashScope, else
// Deepgram, else the on-device recogniser); the refiner orders DeepSeek and Qwen per
// utterance (DeepSeek for long text or rich context) and skips a provider without a key,
// then tries the worker, then keeps the local text. Key files are read at every call, so
// a key saved in the settings section decides the very next turn. Reads files only; any
// queue.
#pragma once

#include <string>

#include "core/config_folder.h"

namespace sorvane {

struct ProviderChoice {
  std::string recogniser;        // "qwen3-asr-flash-realtime", "deepgram-streaming" or "on-device"
  std::string recogniserReason;  // Chinese, for the settings section
  std::string languageModel;     // "deepseek-direct + qwen-llm-direct", "qwen-llm-direct", ...
  std::string languageModelReason;
};

ProviderChoice describeProviderChoice(const ConfigFolder& config, const ProviderSettings& providers);

}  // namespace sorvane
