// Pattern pieces that more than one text rule needs: the ordinal, comparison and
// list-intent patterns of spoken lists, and the explicit self-correction marker.
//
// The normaliser (cleanup and list steps), the contextual rules and the guards all
// recognise "第一……第二……" references and "……，不对，是……" corrections; each pattern is
// spelt here once and compiled once. The correction pieces are string-literal macros
// because rule tables splice them into longer constant patterns at compile time.
// Internal to the postprocess layer. Pure; compiled patterns are shared by every thread.
#pragma once

#include <algorithm>
#include <string_view>

#include "core/regex.h"

// "不对", "说错了" or "不是": the words of an explicit self-correction.
#define SORVANE_CORRECTION_WORDS "不对|说错了|不是"
// Separators around a correction word.
#define SORVANE_CORRECTION_GAP R"([，,、\s]*)"
// The verb that may follow the correction word.
#define SORVANE_CORRECTION_VERB "(?:应该是|是|改成)"
// The whole marker between an old and a new value ("，不对，应该是"), verb optional.
#define SORVANE_CORRECTION_MARKER                                                       \
  SORVANE_CORRECTION_GAP "(?:" SORVANE_CORRECTION_WORDS ")" SORVANE_CORRECTION_GAP    \
                         SORVANE_CORRECTION_VERB "?" SORVANE_CORRECTION_GAP
// The marker with its verb required ("，不对，应该是" but not a bare "，不对，").
#define SORVANE_CORRECTION_MARKER_WITH_VERB                                             \
  SORVANE_CORRECTION_GAP "(?:" SORVANE_CORRECTION_WORDS ")" SORVANE_CORRECTION_GAP    \
                         SORVANE_CORRECTION_VERB SORVANE_CORRECTION_GAP

// Words that ask for help with, or about, the items named.
#define SORVANE_CONSULTATION_WORDS "是不是|能不能|可不可以|是否|可以不可以|你能|你可以|帮我|都能"

namespace sorvane::spoken {

// The correction words as a "|"-separated list of plain texts (a guarded row's `anyOf`).
inline constexpr std::string_view kCorrectionWords = SORVANE_CORRECTION_WORDS;

// One ordinal marker of a spoken list: 第N with an optional counter word, 首先, 其次, 最后.
inline constexpr std::string_view kOrdinal = R"((第\s*[一二三四五六七八九十0-9]+\s*(?:步|点|项|个|件)?|首先|其次|最后))";
// A request about items ("是不是第一步…", "你能帮我…").
inline constexpr std::string_view kConsultation = "(" SORVANE_CONSULTATION_WORDS ")";
// The same on the raw transcript, which also says who prepares which item.
inline constexpr std::string_view kReferenceVerb = "(" SORVANE_CONSULTATION_WORDS "|我自己准备|我来准备)";
// Items compared with each other.
inline constexpr std::string_view kComparison = R"((区分|区别|差别|不同|关系|之间|对比|比较|第一\s*(?:和|跟|与|、)\s*第二))";
// The speaker wants a list ("列一下", "分成三步", "有两个问题").
inline constexpr std::string_view kListIntent =
    R"((列一下|列出来|列成|整理成列表|分成\s*[一二三四五六七八九十0-9]+|流程如下|具体流程|主要有|分别是|包括|有\s*[一二三四五六七八九十0-9两三四五六七八九十]+\s*(?:个)?(?:问题|需求|步骤|风险|指标|点|项)))";

inline const Regex& ordinalMarker() {
  static const Regex regex{kOrdinal};
  return regex;
}
inline const Regex& consultation() {
  static const Regex regex{kConsultation};
  return regex;
}
inline const Regex& referenceVerb() {
  static const Regex regex{kReferenceVerb};
  return regex;
}
inline const Regex& comparison() {
  static const Regex regex{kComparison};
  return regex;
}
inline const Regex& listIntent() {
  static const Regex regex{kListIntent};
  return regex;
}

// True when the text names at least two ordinals ("第一……第二……", "首先……最后").
inline bool namesSeveralOrdinals(std::string_view text) { return ordinalMarker().countMatches(text) >= 2; }

// True when `text` contains one of the "|"-separated plain texts of `alternatives`.
inline bool containsAlternative(std::string_view text, std::string_view alternatives) {
  for (std::size_t begin = 0; begin <= alternatives.size();) {
    const std::size_t end = std::min(alternatives.find('|', begin), alternatives.size());
    if (text.find(alternatives.substr(begin, end - begin)) != std::string_view::npos) return true;
    begin = end + 1;
  }
  return false;
}

}  // namespace sorvane::spoken
