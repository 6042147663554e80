#include "learning/edit_observation.h"

#include <algorithm>
#include <set>

#include "core/regex.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

// Removed before texts are compared: a user may add or drop these without changing words.
constexpr std::u32string_view kComparisonPunctuation =
    U"，。！？；：,.!?;:、\"“”'‘’（）()[]【】";
// Sentence ends at which a source is also cut into pieces.
constexpr std::u32string_view kSegmentDelimiters = U"。！？!?；;";

std::string cleanSegment(std::string_view text) {
  std::string cleaned = text::replaceLiteral(text, "\r\n", "\n");
  cleaned = regexReplaceAll(cleaned, "[\\t ]+", " ");
  return text::trim(cleaned);
}

// Splits at every code point of `delimiters`, dropping them.
std::vector<std::string> splitAt(std::string_view text, std::u32string_view delimiters) {
  std::vector<std::string> pieces;
  const icu::UnicodeString u = text::toUnicode(text);
  icu::UnicodeString piece;
  for (int32_t i = 0; i < u.length();) {
    const UChar32 c = u.char32At(i);
    i += U16_LENGTH(c);
    if (delimiters.find(static_cast<char32_t>(c)) != std::u32string_view::npos) {
      pieces.push_back(text::toUtf8(piece));
      piece.remove();
    } else {
      piece.append(c);
    }
  }
  pieces.push_back(text::toUtf8(piece));
  return pieces;
}

std::set<std::string> distinctCharacters(std::string_view text) {
  auto clusters = text::graphemeClusters(text);
  return {clusters.begin(), clusters.end()};
}

double characterSimilarity(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return 0;
  const auto setA = distinctCharacters(a);
  const auto setB = distinctCharacters(b);
  std::size_t common = 0;
  for (const auto& c : setA) common += setB.count(c);
  const std::size_t unionSize = setA.size() + setB.size() - common;
  return static_cast<double>(common) / static_cast<double>(unionSize == 0 ? 1 : unionSize);
}

}  // namespace

std::string normalizeForEditComparison(std::string_view text) {
  const std::string compact = regexReplaceAll(text, "\\s+", "");
  const icu::UnicodeString u = text::toUnicode(compact);
  icu::UnicodeString kept;
  for (int32_t i = 0; i < u.length();) {
    const UChar32 c = u.char32At(i);
    i += U16_LENGTH(c);
    if (kComparisonPunctuation.find(static_cast<char32_t>(c)) == std::u32string_view::npos) kept.append(c);
  }
  return text::trim(text::toUtf8(kept));
}

std::vector<std::string> editObservationCandidateSegments(const InputContext& context) {
  std::vector<std::string> segments;
  auto add = [&](std::string_view piece) {
    std::string cleaned = cleanSegment(piece);
    if (text::graphemeCount(cleaned) < kEditSegmentMinChars) return;
    if (std::find(segments.begin(), segments.end(), cleaned) != segments.end()) return;
    segments.push_back(std::move(cleaned));
  };
  const std::string sources[] = {context.selectedText, context.fullFieldContent(), context.textBeforeCursor,
                                 context.textAfterCursor, context.visibleText};
  for (const std::string& source : sources) {
    add(source);
    for (const std::string& line : splitAt(text::replaceLiteral(source, "\r\n", "\n"), U"\n")) add(line);
    for (const std::string& sentence : splitAt(source, kSegmentDelimiters)) add(sentence);
  }
  return segments;
}

std::optional<std::string> editedTextCandidate(const InputContext& context, std::string_view finalText) {
  const std::string target = normalizeForEditComparison(finalText);
  const std::size_t targetLength = text::graphemeCount(target);
  const std::size_t limit = std::max<std::size_t>(3 * text::graphemeCount(finalText) + 120, kEditSegmentLimitFloor);
  std::optional<std::string> best;
  double bestScore = 0;
  for (const std::string& segment : editObservationCandidateSegments(context)) {
    const std::string s = text::trim(segment);
    const std::size_t length = text::graphemeCount(s);
    if (length < kEditSegmentMinChars || length > limit) continue;
    const std::string n = normalizeForEditComparison(s);
    const std::size_t nLength = text::graphemeCount(n);
    if (nLength < kEditSegmentMinChars) continue;
    if (n == target) continue;
    const std::size_t growth = nLength > targetLength ? nLength - targetLength : targetLength - nLength;
    if (text::contains(n, target) && growth <= kEditIgnoredGrowthChars) continue;
    const double similarity = characterSimilarity(target, n);
    if (similarity < kEditSimilarityMinimum) continue;
    const std::size_t longer = std::max(nLength, targetLength);
    const double ratio = static_cast<double>(std::min(nLength, targetLength)) /
                         static_cast<double>(longer < 2 ? 1 : longer);
    const double score = kEditSimilarityWeight * similarity + kEditLengthRatioWeight * ratio;
    if (!best || score > bestScore) {
      best = s;
      bestScore = score;
    }
  }
  return best;
}

bool isSameEditObservationSurface(const InputContext& context, std::string_view baselineInput,
                                  const InputContext& originalContext) {
  if (context.inputBoxIdentifier() == baselineInput) return true;
  if (!context.bundleIdentifier.empty() && context.bundleIdentifier == originalContext.bundleIdentifier) return true;
  if (!context.appName.empty() && context.appName == originalContext.appName) return true;
  const std::string host = context.browserHost();
  if (host.empty()) return false;
  return host == originalContext.browserHost();
}

bool selfTestEditObservationCandidate() {
  InputContext chat;
  chat.appName = "微信";
  chat.bundleIdentifier = "com.tencent.xinWeChat";
  chat.source = "none";
  chat.visibleText = "今天\n其实 lenka 也是个可怜人呐。";
  InputContext document;
  document.appName = "Chrome";
  document.bundleIdentifier = "com.google.Chrome";
  document.source = "none";
  document.textBeforeCursor = "我想把会议订到九点，顺便同步给 Orrin。";
  document.browserURL = "https://docs.google.com/document/d/1f2e3d/edit";
  return editedTextCandidate(chat, "其实 Lenka 也是个可怜人呐。") == std::optional<std::string>("其实 lenka 也是个可怜人呐。") &&
         editedTextCandidate(document, "我想把会议订到九点，顺便同步给欧林。") ==
             std::optional<std::string>("我想把会议订到九点，顺便同步给 Orrin。");
}

}  // namespace sorvane
