// A language model's verdict on one turn, and everything about the analysis request that
// does not touch the network: the two system prompts, the request body, and the lenient
// reading of the model's answer (`parseAnalysis`).
//
// `MirlaFeedbackAnalyzer` sends what is built here; term learning and the learning panel
// read the resulting `MirlaFeedbackAnalysis`. Pure functions; safe on any queue.
#pragma once

#include <span>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"

namespace sorvane {

struct InputContext;

struct MirlaFeedbackAnalysis {
  std::string provider;
  std::string summary;
  std::string likelyIssue;  // a label the prompt offers; not validated
  std::vector<std::string> dictionaryTerms;
  std::string strategy;
  double confidence = 0;  // 0 ... 0.99

  // "结论：…；类型：…；词典：a, b；策略：…" without the parts whose field is empty.
  std::string suggestionText() const;
  friend bool operator==(const MirlaFeedbackAnalysis&, const MirlaFeedbackAnalysis&) = default;
};

// Provider labels.
inline constexpr std::string_view kDeepSeekFeedbackLabel = "deepseek-feedback-analyzer";
inline constexpr std::string_view kQwenFeedbackLabel = "qwen-feedback-analyzer";
inline constexpr std::string_view kDeepSeekPassiveLabel = "deepseek-passive-audit";
inline constexpr std::string_view kQwenPassiveLabel = "qwen-passive-audit";

// Confidence of an answer that was the expected object but named none.
inline constexpr double kDefaultAnalysisConfidence = 0.82;
// Confidence of a plain-text answer, and of an object whose confidence is unusable.
inline constexpr double kUnsureAnalysisConfidence = 0.5;
inline constexpr double kMaxAnalysisConfidence = 0.99;

// The model's answer text (code fences allowed) as an analysis; nothing for an empty
// answer. A JSON object gives its fields; other text becomes the summary of an "other"
// analysis with confidence 0.5. A confidence outside 0...1 is clamped (then capped at
// 0.99); a missing one counts as 0.82 only when the object otherwise has the expected
// shape (a text "summary" and terms under "dictionary_terms" or "dictionary_term"), and a
// confidence that is not a number counts as 0.5, so neither passes the passive audit's
// 0.74 gate by accident.
std::optional<MirlaFeedbackAnalysis> parseAnalysis(std::string_view text, std::string_view provider);
bool selfTestParser();

std::span<const std::string_view> feedbackAnalysisPromptLines();
std::span<const std::string_view> passiveAuditPromptLines();

// The user message: a sorted-key JSON object with the texts, the difference hint and the
// context (`promptBlock(1800)`, scene, application name). For the passive audit the
// delivered text stands in for the user's version.
std::string feedbackUserMessage(std::string_view rawText, std::string_view finalText, std::string_view editedText,
                                const InputContext& context, bool passiveAudit);
// {"model", "temperature": 0, "max_tokens": 760, "messages": [system, user]}.
Json feedbackRequestBody(std::string_view model, std::string_view rawText, std::string_view finalText,
                         std::string_view editedText, const InputContext& context, bool passiveAudit);

inline constexpr int kFeedbackMaxTokens = 760;

}  // namespace sorvane
