// The text rules of the post-paste edit observation: which segment of the text around the
// focus is the user's edited version of a pasted text, and whether a later snapshot is
// still the surface that received the paste.
//
// After a paste the edit observer (turn/edit_observer.h) re-reads the field every 0.24 s;
// each snapshot is cut into candidate segments (selected text, field content, the texts
// before and after the caret, the visible text; whole, per line and per sentence), and the
// segment most like the pasted text, but not equal to it or a small growth of it, is the
// candidate. Similarity is the Jaccard index of the distinct characters, weighted with the
// length ratio. Lengths count characters (grapheme clusters). Pure functions, any queue.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/input_context.h"

namespace sorvane {

inline constexpr double kEditSimilarityMinimum = 0.44;
inline constexpr double kEditSimilarityWeight = 0.72;
inline constexpr double kEditLengthRatioWeight = 0.28;
// A segment that contains the pasted text and is at most this much longer is the paste
// plus what was already around it, not an edit.
inline constexpr std::size_t kEditIgnoredGrowthChars = 11;
inline constexpr std::size_t kEditSegmentMinChars = 2;
inline constexpr std::size_t kEditSegmentLimitFloor = 260;

// White space and the punctuation a user may add or drop without changing the words.
std::string normalizeForEditComparison(std::string_view text);
// Distinct cleaned segments of the context, in source order.
std::vector<std::string> editObservationCandidateSegments(const InputContext& context);
// The segment most like `finalText` that differs from it, trimmed; nothing when none
// qualifies. Equal scores keep the earlier segment.
std::optional<std::string> editedTextCandidate(const InputContext& context, std::string_view finalText);
// Whether `context` is the same field, application or web site as the pasted turn's.
bool isSameEditObservationSurface(const InputContext& context, std::string_view baselineInput,
                                  const InputContext& originalContext);
// The two fixed samples of the "--self-test-edit-observer" check.
bool selfTestEditObservationCandidate();

}  // namespace sorvane
