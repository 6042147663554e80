// Term utilities of the personal dictionary: cleaning and filtering candidate terms,
// the changed segment of an edit and the sentence that explains it, the user-facing
// wording of analyses, and the local candidate extractor used by the learning
// self-check.
//
// The data store uses these in `addDictionaryTerm`, `learnFromEdit` and
// `confirmPassiveDictionaryTerms`; the dashboard's manual entry goes through the same
// filter. Lengths count characters (grapheme clusters); "ignoring case" is Unicode
// lower-casing. Pure functions; safe on any queue.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

struct MirlaFeedbackAnalysis;

// What one learning step achieved: the learnt terms joined with ", ", the one line for
// the learning panel, and the confidence of the analysis behind it.
struct LearningResult {
  std::string learnedTerms;
  std::string message;
  double confidence = 0;
  friend bool operator==(const LearningResult&, const LearningResult&) = default;
};

// Dictionary source and feedback status labels written by term learning.
inline constexpr std::string_view kSourceLlmFeedback = "llm-feedback";
inline constexpr std::string_view kSourceLlmPassiveConfirmed = "llm-passive-confirmed";
inline constexpr std::string_view kStatusLearnedTerms = "llm-learned-dictionary-terms";
inline constexpr std::string_view kStatusCapturedFeedback = "llm-captured-feedback";
inline constexpr std::string_view kStatusNoLlm = "captured-edit-feedback-no-llm";
inline constexpr std::string_view kStatusPassiveConfirmed = "llm-passive-dictionary-confirmed";

// Trims the term-punctuation set at both ends, drops a leading 这个/那个/一下/一个, trims.
std::string cleanTerm(std::string_view term);
// 2..40 characters, not a stop word, not digits only; without a Latin letter at most 18.
bool isUsefulTerm(std::string_view term);
// Cleaned, useful, distinct ignoring case; the first 8.
std::vector<std::string> cleanDictionaryTerms(std::span<const std::string> terms);

struct SegmentChange {
  std::string oldSegment;
  std::string newSegment;
  friend bool operator==(const SegmentChange&, const SegmentChange&) = default;
};
// `original` and `edited` without their common prefix and (non-overlapping) common
// suffix, counted in characters.
SegmentChange changedSegmentUnclipped(std::string_view original, std::string_view edited);
// The same, each side longer than 120 characters clipped to first 60 + "..." + last 57.
SegmentChange changedSegment(std::string_view original, std::string_view edited);
// Insertion only: the old side is blank and the new one is not.
bool isInsertionOnly(const SegmentChange& change);

// The sentence that explains an edit (first matching rule).
std::string editReason(std::string_view oldSegment, std::string_view newSegment, std::string_view rawText);
// Replaces the provider names in analysis texts shown to the user by "Mirla".
std::string productFacingCopy(std::string_view text);
// summary, "类型：" + likely issue, "策略：" + strategy, the non-empty ones joined by "；".
std::string analysisReason(const MirlaFeedbackAnalysis& analysis);

// --- local candidate extractor (exercised by --self-test-learning-terms) ---
// Latin words and quoted phrases, cleaned and useful, distinct, longest first, at most 20.
std::vector<std::string> extractCandidateTerms(std::string_view text);
std::size_t stringEditDistance(std::string_view a, std::string_view b);
std::optional<std::string> canonicalLearnableTerm(std::string_view term, std::span<const std::string> editedCandidates,
                                                  std::span<const std::string> existingTerms);
// At most 6 terms learnt from a changed segment, completed from the whole edited text
// and the existing dictionary terms.
std::vector<std::string> learnableTerms(std::string_view segment, std::string_view editedText,
                                        std::span<const std::string> existingTerms);
bool selfTestLearnableTerms();

// The learning relatedness gate: the edit must still be about the pasted text.
inline constexpr double kEditRelatednessThreshold = 0.42;
bool isRelatedEdit(std::string_view finalText, std::string_view editedText);

}  // namespace sorvane
