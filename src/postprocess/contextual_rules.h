// Guards of the refinement chain that read the raw transcript, the candidate and the
// input context together.
//
// They strip spoken reply instructions in chat apps ("跟他说，…"), resolve spoken
// references ("这个概念", "第二点", "刚才那个方案") against the text visible on screen,
// keep the speaker's opening stance, stop a tentative question from becoming a flat
// statement, and stop a question about list items from becoming a numbered list. Each
// returns the new candidate. They run inside `runGuardChain` (refinement_guards.h) in the
// order declared here. Pure functions with log lines only; they run on the main thread
// as part of the guard chain.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "context/input_context.h"
#include "postprocess/refine_profile.h"

namespace sorvane {

std::string applyContextualLocalRules(std::string_view raw, std::string_view candidate,
                                      const InputContext& context, const RefineProfile& profile);
std::string resolveVisibleTextReferences(std::string_view raw, std::string_view candidate,
                                         const InputContext& context, const RefineProfile& profile);
std::string preserveStanceAndStyle(std::string_view raw, std::string_view candidate);
std::string preserveSpeechAct(std::string_view raw, std::string_view candidate);
std::string preserveSemanticEnumerationIntent(std::string_view raw, std::string_view candidate);

// Helpers of the rules above.
std::optional<std::string> extractRecentConcept(std::string_view visibleText);
std::optional<std::string> extractEnumeratedItem(int number, std::string_view visibleText);
std::optional<std::string> extractRecentPlanName(std::string_view visibleText);
bool isTentativeOrQuestion(std::string_view text);
bool hasSoftConsultationMarker(std::string_view text);
std::string conservativeSpeechActFallback(std::string_view raw);
bool candidateContainsNumberedList(std::string_view text);
bool rawLooksLikeEnumerationReference(std::string_view text);
std::optional<std::string> extractLatestRevisionQuestion(std::string_view raw);

}  // namespace sorvane
