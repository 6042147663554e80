// Gentle paragraph breaks in a long single-line text: a few breaks near the even split of
// the text, preferring a sentence end before a connective ("所以", "另外"), then a comma
// before one, then any sentence end.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/text_normalizer_detail.h"

namespace sorvane::TextNormalizer {
namespace {

// Texts shorter than this (in characters without spaces and marks) keep one paragraph.
constexpr std::size_t kParagraphMinChars = 50;
// How much one unit of a candidate's weight counts against its distance (UTF-16 units)
// from the even split.
constexpr int64_t kParagraphConnectiveBonus = 18;
// Weights of the three kinds of break candidates.
constexpr int64_t kSentenceBeforeConnectiveWeight = 5;
constexpr int64_t kCommaBeforeConnectiveWeight = 4;
constexpr int64_t kSentenceEndWeight = 2;
// Three breaks from this many characters on, two above the next limit, else one.
constexpr std::size_t kThreeBreaksMinChars = 210;
constexpr std::size_t kTwoBreaksAboveChars = 124;
// The least distance (UTF-16 units) between breaks and from the text's ends: the short
// gap below this many characters, the long gap from it on.
constexpr std::size_t kLongGapMinChars = 160;
constexpr int64_t kShortGap = 24;
constexpr int64_t kLongGap = 36;

}  // namespace

std::string addGentleSemanticParagraphBreaks(std::string_view text) {
  static const Regex sentenceBeforeConnective(
      R"(([。！？；])\s*(?=(另外|还有|但是|不过|所以|其实|同时|完了以后|我还有一个问题|比如|比如说|再加上|如果|万一|最后|然后)))");
  static const Regex commaBeforeConnective(
      R"(([，,])\s*(?=(另外|还有|但是|不过|所以|其实|同时|完了以后|我还有一个问题|比如|比如说|再加上|如果|万一|最后)))");
  static const Regex sentenceEnd("([。！？；])");
  if (detail::hasNewline(text)) return std::string(text);
  const icu::UnicodeString t = text::trim(text::toUnicode(text));
  const std::size_t n = text::graphemeCount(compactForm(text::toUtf8(t)));
  if (n < kParagraphMinChars) return std::string(text);

  // Offset (UTF-16, right after the mark) → best weight. Each pattern's group 1 is the
  // single mark at the start of the match.
  std::map<int64_t, int64_t> candidates;
  auto collect = [&](const Regex& regex, int64_t weight) {
    for (const RegexMatch& match : regex.allMatches(t)) {
      const auto offset = static_cast<int64_t>(match.start) + 1;
      auto [it, inserted] = candidates.emplace(offset, weight);
      if (!inserted) it->second = std::max(it->second, weight);
    }
  };
  collect(sentenceBeforeConnective, kSentenceBeforeConnectiveWeight);
  collect(commaBeforeConnective, kCommaBeforeConnectiveWeight);
  collect(sentenceEnd, kSentenceEndWeight);

  const int64_t breaks = n >= kThreeBreaksMinChars ? 3 : (n > kTwoBreaksAboveChars ? 2 : 1);
  const int64_t gap = n < kLongGapMinChars ? kShortGap : kLongGap;
  const int64_t length = t.length();
  std::vector<int64_t> chosen;
  int64_t last = 0;
  for (int64_t k = 1; k <= breaks; ++k) {
    const int64_t target = length * k / (breaks + 1);
    std::optional<int64_t> best;
    int64_t bestScore = 0;
    for (const auto& [offset, weight] : candidates) {
      if (offset <= last + gap || length - offset <= (breaks - k) * gap) continue;
      if (std::find(chosen.begin(), chosen.end(), offset) != chosen.end()) continue;
      const int64_t score = std::llabs(offset - target) - kParagraphConnectiveBonus * weight;
      if (!best || score < bestScore) {
        best = offset;
        bestScore = score;
      }
    }
    if (!best) continue;
    chosen.push_back(*best);
    last = *best;
  }
  if (chosen.empty()) return std::string(text);
  std::sort(chosen.begin(), chosen.end(), std::greater<>());
  icu::UnicodeString out = t;
  for (int64_t offset : chosen) out.insert(static_cast<int32_t>(offset), u"\n\n");
  return text::toUtf8(out);
}

}  // namespace sorvane::TextNormalizer
