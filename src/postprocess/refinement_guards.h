// The guards that stand between a language model's answer and the pasted text.
//
// A model may drop numbers, product names or profanity, shorten a long utterance to a
// summary, or restore a value the user explicitly corrected away. Each guard here is a
// pure function of the raw transcript (already basic-cleaned) and the candidate text,
// and falls back to a raw-preserving text when the candidate cannot be trusted.
// `runGuardChain` applies them, together with the contextual rules, in their fixed order
// and formats the result for pasting; `localPipeline` is the same chain over the raw text
// itself, the answer whenever no model is asked or every model failed.
// Pure functions, no I/O beyond log lines; the refiner runs them on the main thread.
#pragma once

#include <string>
#include <string_view>

#include "context/input_context.h"
#include "postprocess/refine_profile.h"

namespace sorvane {

// Rejects candidates that lost profanity of the raw text or are less than a third of its
// length (numbered lists excepted); both texts are final-formatted first.
std::string preserveUserIntent(std::string_view raw, std::string_view candidate);

// True when `token` appears in `text` as the value that a following "不对/说错了/不是"
// corrected away.
bool isSupersededByExplicitCorrection(std::string_view token, std::string_view text);

// Repairs of known model slips, each driven by a phrase of the raw text.
std::string applyRawGuidedCorrections(std::string_view raw, std::string_view candidate);

// Rejects candidates that lost numbers or key terms of the raw text (when the profile
// protects key terms).
std::string protectCriticalTokens(std::string_view raw, std::string_view candidate, const InputContext& context,
                                  const RefineProfile& profile);

// True when the candidate carries `token` literally or as its digit form ("三点半"/"3:30").
bool candidateContainsNumberEquivalent(std::string_view token, std::string_view candidate);

// DeepSeek first for long utterances, rich context, or references to numbered points.
bool shouldPreferDeepSeek(std::string_view raw, const InputContext& context);

// Characters of the context fields that travel with a request.
std::size_t contextChars(const InputContext& context);

// The whole chain: guards, contextual rules, then final formatting (the formatted raw
// text when the candidate formats to nothing).
std::string runGuardChain(std::string_view raw, std::string_view candidate, const InputContext& context,
                          const RefineProfile& profile);
// The chain with the raw text as its own candidate.
std::string localPipeline(std::string_view raw, const InputContext& context, const RefineProfile& profile);

}  // namespace sorvane
