// Basic cleanup: mis-recognition tables, repeated text, disfluencies, explicit
// self-corrections and spoken rewrite instructions. The tables are in
// text_normalizer_cleanup_tables.h.
#include <cctype>
#include <set>

#include <unicode/uscript.h>

#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/guarded_rule_table.h"
#include "postprocess/spoken_patterns.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/text_normalizer_cleanup_tables.h"
#include "postprocess/text_normalizer_detail.h"

namespace sorvane::TextNormalizer {
namespace {

using namespace tables;

const Regex& punctuationClass() {
  static const Regex regex(R"([\s，。！？；：、,.!?;:])");
  return regex;
}

bool isTokenCharacter(UChar32 c) {
  if (c < 0x80) return std::isalnum(c) || c == '+' || c == '.' || c == '#' || c == '_' || c == '-';
  UErrorCode status = U_ZERO_ERROR;
  return uscript_getScript(c, &status) == USCRIPT_HAN && U_SUCCESS(status);
}

bool isOpeningQuote(UChar32 c) { return c == u'"' || c == u'“'; }
bool isClosingQuote(UChar32 c) { return c == u'"' || c == u'”'; }

// The old token of a short-token correction ("改成 config.json，不对，是 settings.json"):
// the start of the token that ends right before the marker at `markerStart`, or -1 when
// the correction must not be applied. Chinese has no spaces between words, so an
// unquoted token is taken only when it stands apart from the text before it and carries
// a Latin letter or a digit; a Han word glued to its sentence ("是北京，不对，是上海")
// has no visible start, and guessing one would corrupt the sentence.
int32_t correctedTokenStart(const icu::UnicodeString& text, int32_t markerStart) {
  if (markerStart > 0 && isClosingQuote(text.charAt(markerStart - 1))) {
    int32_t start = markerStart - 1;
    std::size_t chars = 0;
    while (start > 0) {
      const int32_t previous = text.moveIndex32(start, -1);
      const UChar32 c = text.char32At(previous);
      if (!isTokenCharacter(c)) {
        return chars > 0 && isOpeningQuote(c) ? previous : -1;
      }
      if (++chars > kTokenMaxChars) return -1;
      start = previous;
    }
    return -1;
  }
  int32_t start = markerStart;
  std::size_t chars = 0;
  bool latinOrDigit = false;
  while (start > 0) {
    const int32_t previous = text.moveIndex32(start, -1);
    const UChar32 c = text.char32At(previous);
    if (!isTokenCharacter(c)) break;
    if (++chars > kTokenMaxChars) return -1;  // glued to the text before it
    latinOrDigit = latinOrDigit || (c < 0x80 && std::isalnum(c));
    start = previous;
  }
  if (chars == 0 || !latinOrDigit) return -1;
  if (start > 0 && isOpeningQuote(text.char32At(start - 1))) return -1;  // unbalanced quote
  return start;
}

// A short token corrected with an explicit verb: the old token and the marker give way
// to the new token; the rest of the sentence stays. One correction per text, with the
// old token within the first 80 characters, as for the other whole-text corrections.
std::size_t replaceCorrectedToken(icu::UnicodeString& text) {
  static const Regex marker(kTokenCorrection);
  for (const RegexMatch& match : marker.allMatches(text)) {
    const int32_t oldStart = correctedTokenStart(text, static_cast<int32_t>(match.start));
    if (oldStart < 0) continue;
    if (static_cast<std::size_t>(text.countChar32(0, oldStart)) > kTokenMaxOffset) return 0;
    text.replace(oldStart, static_cast<int32_t>(match.end) - oldStart, text::toUnicode(match.groups[2]));
    return 1;
  }
  return 0;
}

}  // namespace

std::string compactForm(std::string_view text) { return punctuationClass().replaceAll(text, ""); }

std::string keyForm(std::string_view text) {
  static const Regex outside(R"([^a-z0-9\p{Han}])");
  return outside.replaceAll(text::toLower(text), "");
}

namespace detail {

std::string collapseDoubledTranscript(std::string_view text) {
  const std::string joined = text::replaceLiteral(text, " ", "");
  const std::size_t count = text::graphemeCount(joined);
  if (count < 8 || count % 2 != 0) return std::string(text);
  std::string first = text::graphemePrefix(joined, count / 2);
  if (first != text::graphemeSuffix(joined, count / 2)) return std::string(text);
  return first;
}

}  // namespace detail

std::string applyDomainCorrections(std::string_view text) {
  static const GuardedRuleTable literal(kLiteralCorrections, Regex::kLiteral | Regex::kCaseInsensitive);
  static const GuardedRuleTable patterns(kPatternCorrections);
  static const GuardedRuleTable repairs(kCorrectionRepairs, Regex::kLiteral);
  icu::UnicodeString u = text::toUnicode(text);
  literal.apply(u);
  patterns.apply(u);
  repairs.apply(u);
  return text::toUtf8(u);
}

std::string removeRepeatedSentences(std::string_view text) {
  static const Regex separators(R"([。！？!?\n])");
  const std::vector<std::string> pieces = text::splitTrimmed(text, separators);
  if (pieces.size() < 2) return std::string(text);

  std::set<std::string> seen;
  std::vector<std::string> kept;
  for (const std::string& piece : pieces) {
    if (seen.insert(text::replaceLiteral(piece, " ", "")).second) kept.push_back(piece);
  }
  if (kept.size() == pieces.size()) return std::string(text);
  return text::join(kept, "。");
}

std::string normalizeInput(std::string_view text) {
  static const Regex whitespaceRuns(R"(\s+)");
  static const GuardedRuleTable punctuation(kInputPunctuation);
  std::string s = text::trim(text);
  s = text::replaceLiteral(s, "\n", " ");
  s = whitespaceRuns.replaceAll(s, " ");
  s = applyDomainCorrections(s);
  s = detail::collapseDoubledTranscript(s);
  s = removeRepeatedSentences(s);
  s = punctuation.apply(s);
  return text::trim(s);
}

std::string cleanSpokenDisfluencies(std::string_view text) {
  static const Regex fillersOnly("^(嗯|呃|额|啊|呀|呐|唔)+$");
  static const GuardedRuleTable rules(kDisfluencyRules);
  std::string s = text::trim(text);
  if (text::graphemeCount(s) < 3) return s;
  // An utterance that is nothing but filler syllables is kept as said.
  if (fillersOnly.search(compactForm(s))) return s;
  return text::trim(rules.apply(s));
}

std::string applyExplicitSelfCorrections(std::string_view text) {
  static const std::vector<Regex> retractions = [] {
    std::vector<Regex> out;
    for (const ReplaceRule& rule : kSentenceRetractions) out.emplace_back(rule.pattern);
    return out;
  }();
  static const GuardedRuleTable corrections(kValueCorrections);
  static const GuardedRuleTable meetingAndTidy(kMeetingPhraseAndTidy);
  std::string s = text::trim(text);
  if (text::graphemeCount(s) < 8) return s;
  icu::UnicodeString u = text::toUnicode(s);
  if (spoken::containsAlternative(s, spoken::kCorrectionWords)) {
    for (std::size_t i = 0; i < retractions.size(); ++i) {
      if (retractions[i].replaceAll(u, text::toUnicode(kSentenceRetractions[i].replacement)) > 0) break;
    }
    corrections.apply(u);
    replaceCorrectedToken(u);
  }
  meetingAndTidy.apply(u);
  return text::toUtf8(text::trim(u));
}

std::string cleanupSpokenRewriteInstructions(std::string_view text) {
  static const GuardedRuleTable rules(kRewriteInstructions);
  return rules.apply(text::trim(text));
}

}  // namespace sorvane::TextNormalizer
