// Asks a language model whether a turn shows a learnable recognition error and which
// correct terms belong in the personal dictionary.
//
// Two modes: `analyzeEdit` after the user corrected a pasted text, and `auditPassive`
// for a turn the user left alone. The provider is chosen by the key files at each call:
// DeepSeek when "deepseek-api-key" holds a key, else Qwen through DashScope when
// "dashscope-api-key" does; with neither, no request is made and the completion is
// called at once, synchronously, with nothing. Base URLs and models come from the
// `ProviderSettings` handed in (providers.json or the built-in defaults).
//
// Requests go through the HTTP port with a 9-second timeout; the completion always runs
// later on the main queue, exactly once, with the analysis or with nothing (transport
// error, bad status, unusable body; each logged once as "feedback analyzer ..."). The
// analyzer keeps no state and its completions do not touch it, so it may be destroyed
// while requests are in flight (the HTTP client's own lifetime rules still hold). Use
// it from the main queue. API keys never appear in a log line.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/config_folder.h"
#include "learning/mirla_feedback_analysis.h"

namespace sorvane {

class Dispatcher;
class HttpClient;
struct InputContext;

// One chosen endpoint: label, chat-completions URL, model and key.
struct FeedbackProvider {
  std::string label;
  std::string url;
  std::string model;
  std::string apiKey;
  bool isDeepSeek = false;
};

class MirlaFeedbackAnalyzer {
 public:
  using Completion = std::function<void(std::optional<MirlaFeedbackAnalysis>)>;
  static constexpr std::chrono::milliseconds kRequestTimeout{9000};

  // `requestTimeout` is 9 s in the application; tests shorten it.
  MirlaFeedbackAnalyzer(Dispatcher& dispatcher, HttpClient& http, ConfigFolder config, ProviderSettings providers,
                        std::chrono::milliseconds requestTimeout = kRequestTimeout);

  void analyzeEdit(std::string_view rawText, std::string_view finalText, std::string_view editedText,
                   const InputContext& context, Completion completion);
  void auditPassive(std::string_view rawText, std::string_view finalText, const InputContext& context,
                    Completion completion);

  // The provider for a mode by the key files present now; nothing without a key.
  std::optional<FeedbackProvider> chooseProvider(bool passiveAudit) const;
  // Builds and sends one request; `completion` runs on the main queue.
  void runRequest(const FeedbackProvider& provider, std::string_view rawText, std::string_view finalText,
                  std::string_view editedText, const InputContext& context, bool passiveAudit,
                  Completion completion);

 private:
  Dispatcher& dispatcher_;
  HttpClient& http_;
  ConfigFolder config_;
  ProviderSettings providers_;
  std::chrono::milliseconds requestTimeout_;
};

}  // namespace sorvane
