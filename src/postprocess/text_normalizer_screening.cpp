// The hallucination, echo and fast-path predicates over a basic-cleaned transcript. The
// hint, thresholds and word lists are in text_normalizer_screening_tables.h.
#include <algorithm>
#include <unordered_set>

#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/text_normalizer_screening_tables.h"

namespace sorvane::TextNormalizer {

using namespace tables;

bool isASRHintEcho(std::string_view text) {
  const std::string key = keyForm(text);
  if (text::graphemeCount(key) < kHintEchoMinKeyLength) return false;
  static const std::string hintKey = keyForm(kAsrHintPhrase);
  if (key == hintKey || text::contains(hintKey, key) || text::contains(key, hintKey)) return true;
  const auto hits = std::count_if(kAsrHintTerms.begin(), kAsrHintTerms.end(),
                                  [&](std::string_view term) { return text::contains(key, term); });
  return static_cast<std::size_t>(hits) >= kHintEchoMinTerms;
}

bool isPersonalDictionaryEcho(std::string_view text, std::span<const std::string> dictionaryTerms) {
  const std::string key = keyForm(text);
  const std::size_t keyLength = text::graphemeCount(key);
  if (keyLength < kDictionaryEchoMinKeyLength) return false;
  std::vector<std::string> distinct;
  std::unordered_set<std::string> seen;
  for (const std::string& term : dictionaryTerms) {
    std::string termKey = keyForm(term);
    if (text::graphemeCount(termKey) < 2) continue;
    if (seen.insert(termKey).second) distinct.push_back(std::move(termKey));
  }
  if (distinct.size() < 3) return false;
  std::size_t matched = 0;
  std::size_t matchedLength = 0;
  for (const std::string& term : distinct) {
    if (!text::contains(key, term)) continue;
    ++matched;
    matchedLength += text::graphemeCount(term);
  }
  const std::size_t required = distinct.size() == 3 ? 3 : 4;
  if (matched < required) return false;
  return static_cast<double>(matchedLength) / static_cast<double>(std::max<std::size_t>(keyLength, 1)) >=
         kDictionaryEchoMinCoverage;
}

bool isLikelyEmptySpeechHallucination(std::string_view text, std::optional<int64_t> flushedBytes,
                                      std::optional<int64_t> recordingMs,
                                      std::span<const std::string> dictionaryTerms) {
  static const Regex fewFillers("^(嗯|呃|额|啊|呀|唔|呣){1,3}$");
  const std::string normalized = normalizeInput(text);
  if (normalized.empty()) return false;
  if (isASRHintEcho(normalized) || isPersonalDictionaryEcho(normalized, dictionaryTerms)) return true;
  const bool fillersOnly = fewFillers.search(compactForm(normalized));
  const std::size_t chars = text::graphemeCount(normalized);
  if (fillersOnly && recordingMs && *recordingMs <= kFillerMaxRecordingMs) {
    if (flushedBytes && *flushedBytes <= kFillerMaxFlushedBytes) return true;
  } else if (flushedBytes && *flushedBytes <= kLongTextMaxFlushedBytes && chars >= kLongTextMinChars) {
    return true;
  }
  return recordingMs && *recordingMs <= kShortRecordingMaxMs && chars >= kShortRecordingMinChars;
}

bool needsContextOrStructure(std::string_view text) {
  return text::containsAny(text, kContextOrStructureMarkers);
}

bool shouldSkipRemoteRefine(std::string_view text) {
  const std::string normalized = normalizeInput(text);
  if (needsContextOrStructure(normalized)) return false;
  // Compared without regard to case, unlike the markers above.
  auto mentionsAny = [&](const auto& list) {
    return std::any_of(list.begin(), list.end(), [&](std::string_view item) {
      return text::containsCaseInsensitive(normalized, item);
    });
  };
  if (mentionsAny(kProtectedTerms) || mentionsAny(kSuspiciousFragments)) return false;
  return text::graphemeCount(compactForm(normalized)) < kFastPathMaxCompactChars;
}

}  // namespace sorvane::TextNormalizer
