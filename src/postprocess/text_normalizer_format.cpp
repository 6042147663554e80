// Final formatting: the fixed order of normalizeFinal, spoken numbers, punctuation,
// question marks and the terminal mark. The lists and sections are in
// text_normalizer_lists.cpp, paragraph breaks in text_normalizer_paragraphs.cpp, the
// tables in text_normalizer_format_tables.h.
#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/guarded_rule_table.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/text_normalizer_detail.h"
#include "postprocess/text_normalizer_format_tables.h"

namespace sorvane::TextNormalizer {

using namespace tables;

bool isLikelyQuestion(std::string_view text) {
  const std::string t = text::replaceLiteral(text::trimWithCharacters(text, U"。.!！?？"), " ", "");
  for (std::string_view ending : kQuestionEndings) {
    if (text::endsWith(t, ending)) return true;
  }
  return text::containsAny(t, kQuestionPhrases);
}

std::string normalizeQuestionPunctuation(std::string_view text) {
  if (detail::hasNewline(text)) return std::string(text);
  const std::string t = text::trim(text);
  if (!isLikelyQuestion(t)) return std::string(text);
  return regexReplaceAll(t, "[。.]$", "？");
}

std::string trimFinalLines(std::string_view text) {
  static const Regex trailingSemicolons("[；;]+$");
  std::vector<std::string> kept;
  for (const std::string& rawLine : text::splitLines(text)) {
    const std::string line = trailingSemicolons.replaceAll(text::trim(rawLine), "");
    if (!line.empty()) {
      kept.push_back(line);
    } else if (!kept.empty() && !kept.back().empty()) {
      kept.emplace_back();
    }
  }
  while (!kept.empty() && kept.back().empty()) kept.pop_back();
  return text::joinLines(kept);
}

std::string addTerminalPunctuationIfNeeded(std::string_view text) {
  static const Regex han(R"(\p{Han})");
  // A capital Latin letter, accented ones (É, Ö, Å) included.
  static const Regex capitalStart(R"(^[\p{Lu}&&\p{Script=Latin}])");
  const std::string t = text::trim(text);
  if (detail::hasNewline(t) || text::graphemeCount(t) < 8) return std::string(text);
  for (std::string_view mark : {"。", "！", "？", ".", "!", "?"}) {
    if (text::endsWith(t, mark)) return std::string(text);
  }
  if (han.search(t)) return t + (isLikelyQuestion(t) ? "？" : "。");
  if (text::graphemeCount(t) >= 25 && capitalStart.search(t)) return t + ".";
  return std::string(text);
}

std::string normalizeFinal(std::string_view text) {
  static const Regex blanks("[\\t ]+");
  static const GuardedRuleTable spokenNumbers(kSpokenNumbers, Regex::kLiteral);
  static const GuardedRuleTable punctuation(kFinalPunctuation);
  static const GuardedRuleTable punctuationRepairs(kPunctuationRepairs, Regex::kLiteral);
  static const GuardedRuleTable clauseRepairs(kClauseRepairs);
  static const GuardedRuleTable spacing(kSpacingAndUnits);
  static const GuardedRuleTable samples(kSampleRepairs);
  static const GuardedRuleTable finalTidy(kFinalTidy);
  static const Regex colonRuns("：{2,}");

  std::string s = text::trim(text);
  s = text::replaceLiteral(s, "\r\n", "\n");
  s = blanks.replaceAll(s, " ");
  s = applyDomainCorrections(s);
  s = cleanSpokenDisfluencies(s);
  s = applyExplicitSelfCorrections(s);
  s = cleanupSpokenRewriteInstructions(s);
  s = spokenNumbers.apply(s);
  if (!detail::hasNewline(s)) {
    s = detail::collapseDoubledTranscript(s);
    s = removeRepeatedSentences(s);
  }
  s = punctuation.apply(s);
  s = detail::structureProcessList(s);
  s = detail::structureFirstNextLast(s);
  s = structureLongFormChineseSections(s);
  s = detail::structureOrdinalList(s);
  s = structureCompactChineseTriples(s);
  s = normalizeInlineNumberedList(s);
  s = dedupeNumberedList(s);
  s = polishStructuredChineseSections(s);
  s = punctuationRepairs.apply(s);
  s = clauseRepairs.apply(s);
  s = addGentleSemanticParagraphBreaks(s);
  s = normalizeQuestionPunctuation(s);
  s = spacing.apply(s);
  s = samples.apply(s);
  s = finalTidy.apply(s);
  s = trimFinalLines(s);
  s = addTerminalPunctuationIfNeeded(s);
  // Two list steps can each add a colon after the same heading ("有两个问题：：").
  s = colonRuns.replaceAll(s, "：");
  return text::trim(s);
}

}  // namespace sorvane::TextNormalizer
