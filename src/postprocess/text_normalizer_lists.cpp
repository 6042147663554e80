// Dictated lists and sections: a process ("流程如下，先……"), "首先……其次……最后", ordinal
// lists ("第一……第二……"), spoken section announcements, compact triples, inline numbered
// lists and their duplicates. The marker and cue tables are in
// text_normalizer_list_tables.h; normalizeFinal runs these steps in its fixed order.
#include <algorithm>
#include <vector>

#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/guarded_rule_table.h"
#include "postprocess/spoken_patterns.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/text_normalizer_detail.h"
#include "postprocess/text_normalizer_list_tables.h"

namespace sorvane::TextNormalizer {
namespace {

using namespace tables;

std::size_t countLiteral(std::string_view text, std::string_view needle) {
  if (needle.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string_view::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace

namespace detail {

// "流程如下，先……然后……最后……" as a numbered process.
std::string structureProcessList(const std::string& text) {
  static const GuardedRuleTable rules(kProcessList);
  if (shouldPreserveEnumeratedReference(text) || detail::hasNewline(text)) return text;
  if (!text::contains(text, "流程如下") || !text::contains(text, "先") || !text::contains(text, "最后") ||
      !(text::contains(text, "然后") || text::contains(text, "再"))) {
    return text;
  }
  const std::string listed = rules.apply(text);
  if (!text::contains(listed, "\n1. ") || !text::contains(listed, "\n2. ")) return text;
  return regexReplaceAll(listed, "[。.!?？]$", "");
}

// "首先……其次……然后……最后……" as a numbered list.
std::string structureFirstNextLast(const std::string& text) {
  static const GuardedRuleTable tidy(kListTidy);
  if (shouldPreserveEnumeratedReference(text) || !text::contains(text, "首先") ||
      !(text::contains(text, "其次") || text::contains(text, "最后"))) {
    return text;
  }
  const bool hasThen = text::contains(text, "然后");
  std::size_t count = 0;
  std::string s = text;
  auto replace = [&](std::string_view word, std::string_view marker) {
    count += countLiteral(s, word);
    s = text::replaceLiteral(s, word, marker);
  };
  replace("首先", "\n1. ");
  replace("其次", "\n2. ");
  replace("然后", "\n3. ");
  replace("最后", hasThen ? "\n4. " : "\n3. ");
  if (count < 2) return text;
  return tidy.apply(s);
}

// "第一……第二……" as a numbered list. The bare 第N is a marker only where no Han
// character follows it: 第一次, 第二天 and 第一名 are ordinary words, not list items.
std::string structureOrdinalList(const std::string& text) {
  // The rows run in table order: for each numeral its noun markers, then for each numeral
  // its bare and suffixed markers. Rows are grouped by numeral, and a group whose 第N no
  // longer occurs is skipped: a replacement only ever removes markers, so the result is
  // that of running every row.
  struct MarkerGroup {
    icu::UnicodeString ordinal;  // 第N
    GuardedRuleTable rows;
  };
  static const std::vector<MarkerGroup> groups = [] {
    std::vector<MarkerGroup> out;
    // The markers hold only Han characters, ":", "：", "，", "、" and a space, none of
    // which is special in a pattern.
    auto addGroup = [&](std::size_t numeral, const std::vector<std::string>& patterns) {
      const std::string replacement = "\n" + std::to_string(numeral + 1) + ". ";
      std::vector<ReplaceRule> rules;
      for (const std::string& pattern : patterns) rules.push_back({pattern, replacement});
      out.push_back({text::toUnicode("第" + std::string(kChineseNumerals[numeral])), GuardedRuleTable(rules)});
    };
    for (std::size_t i = 0; i < kChineseNumerals.size(); ++i) {
      const std::string ordinal = "第" + std::string(kChineseNumerals[i]);
      std::vector<std::string> patterns;
      for (std::string_view noun : kOrdinalNouns) {
        patterns.push_back(ordinal + std::string(noun) + "是");
        patterns.push_back(ordinal + std::string(noun));
        patterns.push_back(ordinal + "是");
      }
      addGroup(i, patterns);
    }
    for (std::size_t i = 0; i < kChineseNumerals.size(); ++i) {
      const std::string ordinal = "第" + std::string(kChineseNumerals[i]);
      std::vector<std::string> patterns;
      for (std::string_view suffix : kOrdinalSuffixes) {
        patterns.push_back(suffix.empty() ? ordinal + R"((?!\p{Han}))" : ordinal + std::string(suffix));
      }
      addGroup(i, patterns);
    }
    return out;
  }();
  static const GuardedRuleTable headings(kOrdinalHeadings, Regex::kLiteral);
  static const GuardedRuleTable tidy(kOrdinalTidy);
  // Every marker starts with 第; without it nothing can match.
  if (!text::contains(text, "第") || shouldPreserveEnumeratedReference(text)) return text;
  icu::UnicodeString u = text::toUnicode(text);
  std::size_t replaced = 0;
  for (const MarkerGroup& group : groups) {
    if (u.indexOf(group.ordinal) >= 0) replaced += group.rows.apply(u);
  }
  if (replaced < 2) return text;
  headings.apply(u);
  tidy.apply(u);
  return text::toUtf8(u);
}

}  // namespace detail

bool shouldPreserveEnumeratedReference(std::string_view text) {
  const std::string t = text::trim(text);
  if (detail::hasNewline(t)) return false;
  if (!spoken::namesSeveralOrdinals(t)) return false;
  if (!isLikelyQuestion(t) && !spoken::consultation().search(t) && !spoken::comparison().search(t)) return false;
  return !spoken::listIntent().search(t);
}

std::string structureLongFormChineseSections(std::string_view text) {
  static const GuardedRuleTable cues(kSectionCues);
  static const GuardedRuleTable tidy(kSectionTidy);
  if (detail::hasNewline(text) || text::graphemeCount(text) < kSectionMinChars) return std::string(text);
  icu::UnicodeString u = text::toUnicode(text);
  if (cues.apply(u) < 2) return std::string(text);
  tidy.apply(u);
  return text::toUtf8(u);
}

std::string normalizeInlineNumberedList(std::string_view text) {
  static const GuardedRuleTable openers(std::array<ReplaceRule, 4>{{
      {R"(，：\s*1\. )", "：\n1. "},
      {R"(，\s*1\. )", "：\n1. "},
      {R"(：\s*1\. )", "：\n1. "},
      {R"((\d+)\.\s*[，,]\s*)", "$1. "},
  }});
  static const GuardedRuleTable items(std::array<ReplaceRule, 5>{{
      {R"(([，,;；]\s*)?2\. )", "\n2. "},
      {R"(([，,;；]\s*)?3\. )", "\n3. "},
      {R"(([，,;；]\s*)?4\. )", "\n4. "},
      {R"(([，,;；]\s*)?5\. )", "\n5. "},
      {R"(([。.!?？])$)", ""},
  }});
  const std::string s = openers.apply(text);
  const std::string trimmed = text::trim(s);
  if (!text::startsWith(trimmed, "1. ") && !text::contains(s, "：1.") && !text::contains(s, "\n1. ")) {
    return s;
  }
  return items.apply(s);
}

std::string dedupeNumberedList(std::string_view text) {
  static const Regex item(R"(^\d+\.\s*(.+)$)");
  static const Regex keyNoise(R"([\s，。！？、,.!?;；：:])");
  if (!text::contains(text, "\n1. ") && !text::startsWith(text, "1. ")) return std::string(text);
  std::vector<std::string> lines;
  std::vector<std::string> seen;
  std::size_t number = 0;
  for (const std::string& line : text::splitLines(text)) {
    const std::optional<RegexMatch> match = item.firstMatch(line);
    if (!match) {
      lines.push_back(line);
      continue;
    }
    const std::string& body = match->groups[1];
    std::string key = keyNoise.replaceAll(text::toLower(body), "");
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(std::move(key));
    lines.push_back(std::to_string(++number) + ". " + text::trim(body));
  }
  return text::joinLines(lines);
}

std::string structureCompactChineseTriples(std::string_view text) {
  static const Regex separators("[、，, ]");
  for (std::string_view cue : kTripleCues) {
    const std::size_t at = text.find(cue);
    if (at == std::string_view::npos) continue;
    std::string head(text.substr(0, at + cue.size()));
    if (!head.empty() && head.back() == ' ') {
      head.pop_back();
      head += "：";
    }
    const std::string rest = text::trimWithCharacters(text.substr(at + cue.size()), U"。.!！?？");
    const std::vector<std::string> pieces = text::splitTrimmed(rest, separators);
    const bool shortItems = std::all_of(pieces.begin(), pieces.end(), [](const std::string& piece) {
      return text::graphemeCount(piece) <= kTripleItemMaxChars;
    });
    if (pieces.size() == 3 && shortItems) {
      return head + "\n1. " + pieces[0] + "\n2. " + pieces[1] + "\n3. " + pieces[2];
    }
  }
  return std::string(text);
}

std::string polishStructuredChineseSections(std::string_view text) {
  static const Regex labels("(背景|结论|问题|数据|机会|风险|方案|建议|下一步)：");
  static const Regex labelStart("([^\\n])(?=(结论|问题|数据|机会|风险|方案|建议|下一步)：)");
  const std::size_t labelCount = labels.countMatches(text);
  if (!detail::hasNewline(text) && labelCount < 2) return std::string(text);
  std::string s(text);
  // Every label but 背景 starts its own line.
  if (labelCount >= 2) s = labelStart.replaceAll(s, "$1\n");
  std::vector<std::string> out;
  for (const std::string& rawLine : text::splitLines(s)) {
    std::string line = text::trim(rawLine);
    if (line.empty()) continue;
    const bool section = std::any_of(kSectionPrefixes.begin(), kSectionPrefixes.end(),
                                     [&](std::string_view prefix) { return text::startsWith(line, prefix); });
    if (section) {
      if (!out.empty() && !out.back().empty()) out.emplace_back();
      const std::string last = text::graphemeSuffix(line, 1);
      if (!text::contains("。！？：；.!?:;", last)) line += "。";
    }
    out.push_back(std::move(line));
  }
  return text::joinLines(out);
}

}  // namespace sorvane::TextNormalizer
