// Local transcript cleanup and paste-ready formatting, without any network call.
//
// A stateless namespace of pure functions over UTF-8 text (mostly Chinese with English
// product and technical words). `normalizeInput` is the basic cleanup used wherever a
// plainly cleaned transcript is wanted; `normalizeFinal` turns a transcript or a model's
// candidate into the text that is pasted. Every rule table is ordered data compiled once
// per process; the order of the rows is behaviour. Nothing here throws; a rule that
// cannot run leaves its input unchanged. Safe on any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::TextNormalizer {

// --- basic cleanup and the individual cleanup rules ---
std::string normalizeInput(std::string_view text);
std::string applyDomainCorrections(std::string_view text);
std::string removeRepeatedSentences(std::string_view text);
std::string cleanSpokenDisfluencies(std::string_view text);
std::string applyExplicitSelfCorrections(std::string_view text);
std::string cleanupSpokenRewriteInstructions(std::string_view text);

// --- hallucination and echo guards, fast path ---
bool isASRHintEcho(std::string_view text);
// `dictionaryTerms` are the texts of the user's personal dictionary; the owner of the
// dictionary (the data store) hands them in.
bool isPersonalDictionaryEcho(std::string_view text, std::span<const std::string> dictionaryTerms);
bool isLikelyEmptySpeechHallucination(std::string_view text, std::optional<int64_t> flushedBytes,
                                      std::optional<int64_t> recordingMs,
                                      std::span<const std::string> dictionaryTerms = {});
bool needsContextOrStructure(std::string_view text);
bool shouldSkipRemoteRefine(std::string_view text);

// --- final formatting and structure ---
std::string normalizeFinal(std::string_view text);
bool shouldPreserveEnumeratedReference(std::string_view text);
bool isLikelyQuestion(std::string_view text);
std::string normalizeInlineNumberedList(std::string_view text);
std::string dedupeNumberedList(std::string_view text);
std::string structureLongFormChineseSections(std::string_view text);
std::string structureCompactChineseTriples(std::string_view text);
std::string polishStructuredChineseSections(std::string_view text);
std::string addGentleSemanticParagraphBreaks(std::string_view text);
std::string normalizeQuestionPunctuation(std::string_view text);
std::string trimFinalLines(std::string_view text);
std::string addTerminalPunctuationIfNeeded(std::string_view text);

// --- shared definitions ---
// The text without any character of [\s，。！？；：、,.!?;:].
std::string compactForm(std::string_view text);
// Lower-cased, with every character outside [a-z0-9\p{Han}] removed.
std::string keyForm(std::string_view text);

}  // namespace sorvane::TextNormalizer
