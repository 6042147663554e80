#include "learning/term_learning.h"

#include <algorithm>
#include <array>
#include <set>

#include "core/edit_distance.h"
#include "core/regex.h"
#include "core/unicode_text.h"
#include "learning/mirla_feedback_analysis.h"
#include "learning/mirla_records.h"

namespace sorvane {
namespace {

// Trimmed from both ends of a term, besides white space and newlines.
constexpr std::u32string_view kTermPunctuation = U"，。！？；：,.!?;:、()（）[]【】\"“”'‘’";

constexpr std::array<std::string_view, 12> kStopWords{
    "local", "text", "copy", "paste", "Processing", "Thinking", "这个", "那个", "一下", "然后", "就是", "其实"};

constexpr std::size_t kMinTermLength = 2;
constexpr std::size_t kMaxTermLength = 40;
constexpr std::size_t kMaxNonLatinTermLength = 18;
constexpr std::size_t kMaxCleanedTerms = 8;
constexpr std::size_t kSegmentClipLimit = 120;  // 60 + "..." + 57
constexpr std::size_t kMaxExtractedTerms = 20;
constexpr std::size_t kMaxLearnableTerms = 6;
constexpr std::size_t kInsertionLengthLimit = 80;
constexpr std::size_t kLongPasteLength = 160;

const Regex& leadingDemonstrative() {
  static const Regex regex("^\\s*(这个|那个|一下|一个)");
  return regex;
}
const Regex& digitsOnly() {
  static const Regex regex("\\d+");
  return regex;
}
const Regex& latinLetter() {
  static const Regex regex("[A-Za-z]");
  return regex;
}
const Regex& technicalToken() {
  static const Regex regex("[A-Za-z0-9+.#_-]{2,}");
  return regex;
}
const Regex& numericFragment() {
  static const Regex regex("\\d|[一二三四五六七八九十]+[点分个件]");
  return regex;
}
const Regex& latinWord() {
  static const Regex regex("[A-Za-z][A-Za-z0-9+.#_-]{1,}");
  return regex;
}
const std::array<Regex, 4>& quotedPhrases() {
  static const std::array<Regex, 4> patterns{Regex("“([^”]{2,24})”"), Regex("\"([^\"]{2,24})\""),
                                             Regex("「([^」]{2,24})」"), Regex("『([^』]{2,24})』")};
  return patterns;
}

constexpr std::array<std::string_view, 3> kSelfCorrectionSignals{"不对", "说错", "改成"};

struct Replacement {
  std::string_view from;
  std::string_view to;
};
constexpr std::array<Replacement, 7> kProductFacingCopy{{
    {"DeepSeek 被动审计", "Mirla"},
    {"DeepSeek 诊断", "Mirla 分析"},
    {"DeepSeek 已分析", "Mirla 已分析"},
    {"DeepSeek 建议", "Mirla 建议"},
    {"DeepSeek 觉得", "Mirla 觉得"},
    {"大模型诊断", "Mirla 分析"},
    {"大模型分析", "Mirla 分析"},
}};

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return text::toLower(a) == text::toLower(b); }

bool containsIgnoringCase(std::span<const std::string> list, std::string_view term) {
  const std::string lowered = text::toLower(term);
  return std::any_of(list.begin(), list.end(), [&](const std::string& t) { return text::toLower(t) == lowered; });
}

std::string joinClusters(const std::vector<std::string>& clusters, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to; ++i) out += clusters[i];
  return out;
}

// Longest first; equal lengths keep their order.
void sortLongestFirst(std::vector<std::string>& terms) {
  std::vector<std::pair<std::size_t, std::string>> keyed;
  keyed.reserve(terms.size());
  for (auto& term : terms) keyed.emplace_back(text::graphemeCount(term), std::move(term));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  terms.clear();
  for (auto& [length, term] : keyed) terms.push_back(std::move(term));
}

bool isClose(const std::string& a, const std::string& b) {
  const std::string x = text::toLower(a);
  const std::string y = text::toLower(b);
  if (x == y) return true;
  const std::size_t lx = text::graphemeCount(x);
  const std::size_t ly = text::graphemeCount(y);
  const std::string& longer = lx >= ly ? x : y;
  const std::string& shorter = lx >= ly ? y : x;
  const std::size_t difference = lx >= ly ? lx - ly : ly - lx;
  if ((text::startsWith(longer, shorter) || text::endsWith(longer, shorter)) && difference < 4) return true;
  return lx > 3 && ly > 3 && stringEditDistance(x, y) <= 2;
}

}  // namespace

std::string cleanTerm(std::string_view term) {
  std::string cleaned = text::trimWithCharacters(term, kTermPunctuation);
  if (auto match = leadingDemonstrative().firstMatch(cleaned)) {
    cleaned = text::toUtf8(text::toUnicode(cleaned).tempSubString(static_cast<int32_t>(match->end)));
  }
  return text::trim(cleaned);
}

bool isUsefulTerm(std::string_view term) {
  const std::size_t length = text::graphemeCount(term);
  if (length < kMinTermLength || length > kMaxTermLength) return false;
  for (std::string_view stop : kStopWords) {
    if (equalsIgnoringCase(term, stop)) return false;
  }
  if (digitsOnly().fullMatch(term)) return false;
  if (latinLetter().search(term)) return true;
  return length <= kMaxNonLatinTermLength;
}

std::vector<std::string> cleanDictionaryTerms(std::span<const std::string> terms) {
  std::vector<std::string> kept;
  for (const auto& term : terms) {
    std::string cleaned = cleanTerm(term);
    if (!isUsefulTerm(cleaned) || containsIgnoringCase(kept, cleaned)) continue;
    kept.push_back(std::move(cleaned));
    if (kept.size() == kMaxCleanedTerms) break;
  }
  return kept;
}

SegmentChange changedSegmentUnclipped(std::string_view original, std::string_view edited) {
  const auto a = text::graphemeClusters(original);
  const auto b = text::graphemeClusters(edited);
  std::size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
    ++suffix;
  }
  return {joinClusters(a, prefix, a.size() - suffix), joinClusters(b, prefix, b.size() - suffix)};
}

SegmentChange changedSegment(std::string_view original, std::string_view edited) {
  SegmentChange change = changedSegmentUnclipped(original, edited);
  change.oldSegment = clipAroundEllipsis(change.oldSegment, kSegmentClipLimit);
  change.newSegment = clipAroundEllipsis(change.newSegment, kSegmentClipLimit);
  return change;
}

bool isInsertionOnly(const SegmentChange& change) {
  return text::isBlank(change.oldSegment) && !text::isBlank(change.newSegment);
}

std::string editReason(std::string_view oldSegment, std::string_view newSegment, std::string_view rawText) {
  if (oldSegment.empty() && !newSegment.empty()) return "用户在 Mirla 输出后追加了内容，可能是 ASR 漏听或用户补充。";
  if (!oldSegment.empty() && newSegment.empty()) return "用户删除了 Mirla 输出中的片段，可能是后处理多写或 ASR 幻听。";
  if (technicalToken().search(newSegment)) return "用户修正了英文/产品/技术词，优先判断为专有词识别错误。";
  if (numericFragment().search(oldSegment) || numericFragment().search(newSegment)) {
    return "用户修正了数字、时间或数量，优先判断为关键数值识别错误。";
  }
  for (std::string_view signal : kSelfCorrectionSignals) {
    if (text::contains(rawText, signal)) return "原始语音含自我纠错信号，判断为自我纠错处理不够稳定。";
  }
  return "用户修改了局部表达，判断为 ASR 或后处理在该片段上偏离用户意图。";
}

std::string productFacingCopy(std::string_view input) {
  std::string out(input);
  for (const auto& row : kProductFacingCopy) out = text::replaceLiteral(out, row.from, row.to);
  return out;
}

std::string analysisReason(const MirlaFeedbackAnalysis& analysis) {
  std::vector<std::string> parts;
  if (!analysis.summary.empty()) parts.push_back(analysis.summary);
  if (!analysis.likelyIssue.empty()) parts.push_back("类型：" + analysis.likelyIssue);
  if (!analysis.strategy.empty()) parts.push_back("策略：" + analysis.strategy);
  return text::join(parts, "；");
}

std::vector<std::string> extractCandidateTerms(std::string_view input) {
  std::vector<std::string> found;
  auto keep = [&](std::string_view candidate) {
    std::string cleaned = cleanTerm(candidate);
    if (isUsefulTerm(cleaned) && std::find(found.begin(), found.end(), cleaned) == found.end()) {
      found.push_back(std::move(cleaned));
    }
  };
  for (const auto& match : latinWord().allMatches(input)) keep(match.groups[0]);
  for (const Regex& pattern : quotedPhrases()) {
    for (const auto& match : pattern.allMatches(input)) {
      if (match.groups.size() > 1 && match.groupMatched[1]) keep(match.groups[1]);
    }
  }
  sortLongestFirst(found);
  if (found.size() > kMaxExtractedTerms) found.resize(kMaxExtractedTerms);
  return found;
}

std::size_t stringEditDistance(std::string_view a, std::string_view b) { return characterEditDistance(a, b); }

std::optional<std::string> canonicalLearnableTerm(std::string_view term, std::span<const std::string> editedCandidates,
                                                  std::span<const std::string> existingTerms) {
  const std::string t = cleanTerm(term);
  if (!isUsefulTerm(t)) return std::nullopt;
  std::vector<std::string> pool;
  for (const auto& entry : existingTerms) {
    if (isUsefulTerm(entry)) pool.push_back(entry);
  }
  for (const auto& entry : editedCandidates) {
    if (isUsefulTerm(entry)) pool.push_back(entry);
  }
  std::stable_sort(pool.begin(), pool.end(), [](const std::string& a, const std::string& b) {
    const std::size_t la = text::graphemeCount(a);
    const std::size_t lb = text::graphemeCount(b);
    return la != lb ? la > lb : a < b;
  });
  for (const auto& existing : existingTerms) {
    if (equalsIgnoringCase(existing, t)) return existing;
  }
  const std::string lowered = text::toLower(t);
  const std::size_t length = text::graphemeCount(t);
  for (const auto& p : pool) {
    const std::string candidate = text::toLower(p);
    const std::size_t pl = text::graphemeCount(p);
    if (pl > length && pl - length <= 3 &&
        (text::startsWith(candidate, lowered) || text::endsWith(candidate, lowered))) {
      return p;
    }
  }
  for (const auto& p : pool) {
    const std::size_t pl = text::graphemeCount(p);
    if (std::min(pl, length) >= 4 && pl >= length && stringEditDistance(text::toLower(p), lowered) < 3) return p;
  }
  for (const auto& edited : editedCandidates) {
    if (equalsIgnoringCase(edited, t)) return edited;
  }
  return t;
}

std::vector<std::string> learnableTerms(std::string_view segment, std::string_view editedText,
                                        std::span<const std::string> existingTerms) {
  std::vector<std::string> s = extractCandidateTerms(segment);
  const std::vector<std::string> e = extractCandidateTerms(editedText);
  const std::size_t fromSegment = s.size();
  for (const auto& candidate : e) {
    bool close = false;
    for (std::size_t i = 0; i < fromSegment && !close; ++i) close = isClose(candidate, s[i]);
    if (close) s.push_back(candidate);
  }
  std::vector<std::string> result;
  for (const auto& entry : s) {
    auto canonical = canonicalLearnableTerm(entry, e, existingTerms);
    if (canonical && !containsIgnoringCase(result, *canonical)) result.push_back(std::move(*canonical));
  }
  if (result.empty()) {
    std::string cleaned = cleanTerm(segment);
    if (isUsefulTerm(cleaned)) return {cleaned};
    return {};
  }
  if (result.size() > kMaxLearnableTerms) result.resize(kMaxLearnableTerms);
  return result;
}

bool selfTestLearnableTerms() {
  const std::vector<std::string> existing{"claude", "Codex"};
  auto has = [](const std::vector<std::string>& terms, std::string_view term) {
    return containsIgnoringCase(terms, term);
  };
  const auto first = learnableTerms("claude 好还是 codex", "你觉得 claude 好还是 codex 好？", existing);
  if (!has(first, "claude") || !has(first, "Codex")) return false;
  const auto second = learnableTerms("aude 也改了 Codex，为什么只记录了 claud ",
                                     "我的问题是：有一次我既改了 claude 也改了 Codex，为什么只记录了 claud ？", existing);
  if (!has(second, "claude") || !has(second, "Codex") || has(second, "claud")) return false;
  const std::vector<std::string> brand{"mirla"};
  const std::vector<std::string> han{"塞专"};
  return has(cleanDictionaryTerms(brand), "mirla") && has(cleanDictionaryTerms(han), "塞专");
}

bool isRelatedEdit(std::string_view finalText, std::string_view editedText) {
  const std::size_t finalLength = text::graphemeCount(finalText);
  const std::size_t editedLength = text::graphemeCount(editedText);
  if (text::contains(finalText, editedText) || text::contains(editedText, finalText)) {
    const double limit = finalLength < kLongPasteLength ? static_cast<double>(kInsertionLengthLimit)
                                                        : static_cast<double>(finalLength) / 2.0;
    const double difference = editedLength > finalLength ? static_cast<double>(editedLength - finalLength)
                                                         : static_cast<double>(finalLength - editedLength);
    return difference <= limit;
  }
  const auto a = text::graphemeClusters(finalText);
  const auto b = text::graphemeClusters(editedText);
  const std::set<std::string> setA(a.begin(), a.end());
  const std::set<std::string> setB(b.begin(), b.end());
  std::size_t shared = 0;
  for (const auto& c : setA) shared += setB.count(c);
  const std::size_t unionSize = setA.size() + setB.size() - shared;
  return static_cast<double>(shared) / static_cast<double>(std::max<std::size_t>(1, unionSize)) >=
         kEditRelatednessThreshold;
}

}  // namespace sorvane
