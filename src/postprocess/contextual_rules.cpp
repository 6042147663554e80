#include "postprocess/contextual_rules.h"

#include <array>

#include "core/log.h"
#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/spoken_patterns.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {
namespace {

using text::contains;
using text::containsAny;

constexpr std::array<ReplaceRule, 4> kChatReplyInstructions{{
    {"^跟他说[，,、\\s]*", ""},
    {"^你帮我回他[，,、\\s]*", ""},
    {"^帮我回他[，,、\\s]*", ""},
    {"^帮我回复他[，,、\\s]*", ""},
}};

constexpr std::array<ReplaceRule, 2> kEmailDictations{{
    {"^发一封邮件给\\s*([A-Za-z]+)\\s*感谢今天时间\\s*我今晚给方案\\s*明天下午再同步[。.]?$",
     "$1，感谢你今天的时间。我今晚会给方案，明天下午我们再同步。"},
    {"^发个邮件给\\s*([A-Za-z]+)\\s*感谢今天时间\\s*我今晚给方案\\s*明天下午再同步[。.]?$",
     "$1，感谢你今天的时间。我今晚会给方案，明天下午我们再同步。"},
}};

constexpr std::array<std::string_view, 6> kKnownConcepts{"向量数据库", "RAG", "embedding",
                                                         "上下文注入", "后处理策略", "Deepgram"};
// Longer markers first: "RAG指的是……" names RAG, not "RAG指的".
constexpr std::array<std::string_view, 5> kConceptMarkers{"这个概念", "指的是", "是一类", "是一个", "是"};
constexpr std::array<std::string_view, 6> kConceptStopWords{"Assistant", "User", "这个", "概念", "方案", "下一步"};
// Characters trimmed around a concept taken from a definition line.
constexpr std::u32string_view kConceptTrimCharacters = U"：“”\"'，,。.";

constexpr std::array<std::string_view, 3> kPlanNamePatterns{
    "(?i)(Deepgram\\s+Nova-3\\s+multilingual)",
    "(?i)(Deepgram\\s+Nova-3\\s+monolingual)",
    "(?i)(Nova-3\\s+multilingual)",
};

constexpr std::array<std::string_view, 6> kStanceOpeners{"我觉得",       "我想表达的是", "这个事情",
                                                         "这个回答不要", "我不是说",     "我不是要"};
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kStanceRepairs{{
    {"我觉得这个东西其实不是不行", "我觉得这个东西不是不行"},
    {"你帮我把它弄得稍微顺一点", "你帮我把它处理得稍微顺一点"},
    {"但是不要改我的意思", "但不要改我的意思"},
    {"没有一个统一的用户体验", "没有形成统一的用户体验"},
}};

constexpr std::array<std::string_view, 20> kTentativeMarkers{
    "我觉得", "我感觉", "我想问", "想问一下", "你觉得", "你看",   "是不是", "可不可以", "可以吗", "能不能",
    "能否",   "要不要", "行不行", "对吗",     "好吗",   "好不好", "会不会", "有没有",   "应该可以", "可能"};
constexpr std::array<std::string_view, 9> kSoftConsultationMarkers{
    "是不是", "可不可以", "可以吗", "能不能", "能否", "要不要", "会不会", "有没有", "你觉得"};

constexpr std::array<ReplaceRule, 4> kSpeechActFallbackRules{{
    {"^其实[，,、\\s]*", ""},
    {"做差不多", "做得差不多"},
    {"([吧吗呢])。$", "$1？"},
    {"([吧吗呢])$", "$1？"},
}};

template <std::size_t N>
bool isOneOf(std::string_view value, const std::array<std::string_view, N>& words) {
  for (auto word : words) {
    if (value == word) return true;
  }
  return false;
}

bool isConceptCandidate(std::string_view term) {
  const std::size_t length = text::graphemeCount(term);
  return length >= 2 && length <= 24 && !isOneOf(term, kConceptStopWords);
}

std::optional<std::string> lastGroup(std::string_view pattern, std::string_view value) {
  auto matches = cachedRegex(pattern).allMatches(value);
  if (matches.empty()) return std::nullopt;
  return matches.back().groups.at(1);
}

std::string lengthNote(std::string_view raw, std::string_view candidate) {
  return "raw=" + std::to_string(text::graphemeCount(raw)) +
         " candidate=" + std::to_string(text::graphemeCount(candidate));
}

}  // namespace

std::string applyContextualLocalRules(std::string_view raw, std::string_view candidate,
                                      const InputContext& context, const RefineProfile& profile) {
  if (!profile.includeContext) return std::string(candidate);
  std::string revised = text::trim(candidate);
  const InputScene scene = context.sceneKind();
  if (isChatScene(scene)) {
    static const RuleTable kRules{kChatReplyInstructions};
    revised = kRules.apply(revised);
  }
  if (scene == InputScene::email || contains(raw, "发一封邮件") || contains(raw, "发个邮件")) {
    static const RuleTable kRules{kEmailDictations, Regex::kCaseInsensitive};
    revised = kRules.apply(revised);
    revised = text::replaceLiteralCaseInsensitive(revised, "edvin，", "Edvin，");
  }
  if (contains(raw, "问题") && text::startsWith(text::trim(revised), "1. ") && !contains(revised, "问题：")) {
    const std::string_view count = (contains(revised, "\n3. ") || contains(revised, "3. ")) ? "三个" : "两个";
    revised = "有" + std::string(count) + "问题：\n" + revised;
  }
  return revised;
}

std::string resolveVisibleTextReferences(std::string_view raw, std::string_view candidate,
                                         const InputContext& context, const RefineProfile& profile) {
  std::string resolved(candidate);
  if (!profile.includeContext || context.visibleText.empty()) return resolved;
  const std::string_view visible = context.visibleText;

  if (contains(raw, "这个概念") && contains(resolved, "这个概念")) {
    if (auto term = extractRecentConcept(visible); term && !contains(resolved, *term)) {
      appLog("visible reference resolved concept=" + *term);
      resolved = text::replaceLiteral(resolved, "这个概念", *term + "这个概念");
    }
  }
  if (contains(raw, "第二点") && contains(resolved, "第二点") && !contains(resolved, "也就是")) {
    if (auto item = extractEnumeratedItem(2, visible)) {
      appLog("visible reference resolved item2=" + *item);
      resolved = text::replaceLiteral(resolved, "第二点", "第二点，也就是" + *item);
      resolved = text::replaceLiteral(resolved, "也就是" + *item + "再", "也就是" + *item + "，再");
    }
  }
  if (contains(raw, "刚才那个方案") && contains(resolved, "刚才那个方案")) {
    if (auto plan = extractRecentPlanName(visible); plan && !contains(resolved, *plan)) {
      appLog("visible reference resolved plan=" + *plan);
      resolved = text::replaceLiteral(resolved, "刚才那个方案", "刚才那个 " + *plan + " 方案");
    }
  }
  return resolved;
}

std::optional<std::string> extractRecentConcept(std::string_view visible) {
  for (auto term : kKnownConcepts) {
    if (contains(visible, term)) return std::string(term);
  }

  static const Regex kSpeakerLabel("^(Assistant|User|AI|助手|用户)[:：]\\s*", Regex::kCaseInsensitive);
  const std::vector<std::string> lines = text::splitLines(visible);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const std::string line = text::trim(kSpeakerLabel.replaceAll(*it, ""));
    if (line.empty()) continue;
    for (auto marker : kConceptMarkers) {
      const auto position = line.find(marker);
      if (position == std::string::npos) continue;
      std::string term = text::trimWithCharacters(std::string_view(line).substr(0, position), kConceptTrimCharacters);
      if (isConceptCandidate(term)) return term;
    }
  }

  for (auto pattern : {std::string_view("(?m)(?:Assistant[:：]\\s*)?([\\p{Han}A-Za-z0-9+.#_-]{2,24})"
                                        "(?:是|是一类|指的是|这个概念)"),
                       std::string_view("(?m)[“\"]([\\p{Han}A-Za-z0-9+.#_-]{2,24})[”\"]")}) {
    if (auto group = lastGroup(pattern, visible)) {
      std::string term = text::trim(*group);
      if (isConceptCandidate(term)) return term;
    }
  }
  return std::nullopt;
}

std::optional<std::string> extractEnumeratedItem(int number, std::string_view visible) {
  // Only blanks that are not line breaks may stand before the number: "^\s*" would let
  // every line start retry the run of blank lines after it, quadratic on a screen of them.
  // Either way the match begins at the line the number is on.
  const Regex pattern("(?m)^[^\\S\\n\\x{B}\\f\\r\\x{85}\\x{2028}\\x{2029}]*" + std::to_string(number) +
                      "[\\.、)]\\s*([^\\n。；;]{2,80})");
  auto matches = pattern.allMatches(visible);
  if (matches.empty()) return std::nullopt;
  static const Regex kLeadingVerb("^(做|支持|增加|优化|升级|实现|接入)");
  std::string item = text::trim(kLeadingVerb.replaceAll(matches.back().groups.at(1), ""));
  if (item.empty()) return std::nullopt;
  return item;
}

std::optional<std::string> extractRecentPlanName(std::string_view visible) {
  for (auto pattern : kPlanNamePatterns) {
    if (auto name = lastGroup(pattern, visible)) return text::trimWithCharacters(*name, U".。");
  }
  return std::nullopt;
}

std::string preserveStanceAndStyle(std::string_view raw, std::string_view candidate) {
  const std::string trimmedRaw = text::trim(raw);
  std::string revised = text::trim(candidate);
  for (auto opener : kStanceOpeners) {
    if (opener == "这个事情" && text::startsWith(revised, "这件事")) {
      revised = regexReplaceAll(revised, "^这件事", "这个事情");
      break;
    }
    if (text::startsWith(trimmedRaw, opener) && !text::startsWith(revised, opener)) {
      revised = std::string(opener) + revised;
      break;
    }
  }
  for (const auto& [from, to] : kStanceRepairs) revised = text::replaceLiteral(revised, from, to);
  return revised;
}

bool isTentativeOrQuestion(std::string_view value) {
  const std::string compact = TextNormalizer::compactForm(value);
  if (compact.empty()) return false;
  if (containsAny(compact, kTentativeMarkers)) return true;
  if (contains(value, "?") || contains(value, "？")) return true;
  if (text::endsWith(compact, "吗") || text::endsWith(compact, "呢") || text::endsWith(compact, "吧")) return true;
  return regexSearch(compact, "(可以|差不多|先这样|上线|发版|提交|处理|改完|做完)了?吧$");
}

bool hasSoftConsultationMarker(std::string_view value) {
  if (contains(value, "?") || contains(value, "？")) return true;
  const std::string compact = TextNormalizer::compactForm(value);
  if (regexSearch(compact, "(吧|吗|呢|对吗|好吗|好不好|行不行)$")) return true;
  return containsAny(value, kSoftConsultationMarkers);
}

std::string conservativeSpeechActFallback(std::string_view raw) {
  static const RuleTable kRules{kSpeechActFallbackRules};
  return kRules.apply(TextNormalizer::normalizeInput(raw));
}

std::string preserveSpeechAct(std::string_view raw, std::string_view candidate) {
  const std::string trimmedRaw = text::trim(raw);
  const std::string trimmedCandidate = text::trim(candidate);
  if (trimmedRaw.empty() || trimmedCandidate.empty()) return trimmedCandidate;
  if (isTentativeOrQuestion(trimmedRaw) && !isTentativeOrQuestion(trimmedCandidate)) {
    appLog("speech act guard reverted tentative " + lengthNote(trimmedRaw, trimmedCandidate));
    return conservativeSpeechActFallback(trimmedRaw);
  }
  if (hasSoftConsultationMarker(trimmedRaw) && !hasSoftConsultationMarker(trimmedCandidate)) {
    appLog("speech act guard reverted soft consultation " + lengthNote(trimmedRaw, trimmedCandidate));
    return conservativeSpeechActFallback(trimmedRaw);
  }
  return trimmedCandidate;
}

bool candidateContainsNumberedList(std::string_view value) {
  if (regexSearch(value, "(?m)(^|\\n)\\s*1[\\.、]\\s*.{0,80}(\\n|\\s+)2[\\.、]")) return true;
  return regexSearch(value, "(?m)(^|\\n)\\s*1[\\.、]\\s*") && regexSearch(value, "(?m)(^|\\n)\\s*2[\\.、]\\s*");
}

// The raw-transcript counterpart of TextNormalizer::shouldPreserveEnumeratedReference, on
// the same shared patterns: the raw text also counts who prepares an item as a reference,
// and is a question when its final form ends with "？".
bool rawLooksLikeEnumerationReference(std::string_view value) {
  if (!spoken::namesSeveralOrdinals(value)) return false;
  if (spoken::referenceVerb().search(value) || spoken::comparison().search(value)) return true;
  return text::endsWith(TextNormalizer::normalizeFinal(value), "？");
}

std::optional<std::string> extractLatestRevisionQuestion(std::string_view raw) {
  // The last revision marker: what follows it is the question the speaker settled on.
  const std::vector<RegexMatch> markers = cachedRegex("(等一下|等等)").allMatches(raw);
  if (markers.empty()) return std::nullopt;
  const RegexMatch* match = &markers.back();
  // Offsets are UTF-16; the text after the marker is found through the UTF-16 form.
  const icu::UnicodeString whole = text::toUnicode(raw);
  const std::string after = text::toUtf8(whole.tempSubString(static_cast<int32_t>(match->end)));
  std::string revision = text::trimWithCharacters(after, U" ，,、。.!！?？\n\t");
  if (text::graphemeCount(revision) < 6 || !rawLooksLikeEnumerationReference(revision)) return std::nullopt;
  if (text::startsWith(text::trim(raw), "所以") && !text::startsWith(revision, "所以")) {
    revision = "所以" + revision;
  }
  return revision;
}

std::string preserveSemanticEnumerationIntent(std::string_view raw, std::string_view candidate) {
  if (!candidateContainsNumberedList(candidate) || !rawLooksLikeEnumerationReference(raw) ||
      spoken::listIntent().search(raw)) {
    return std::string(candidate);
  }
  appLog("semantic enumeration guard applied " + lengthNote(raw, candidate));
  if (auto revision = extractLatestRevisionQuestion(raw)) return *revision;
  return std::string(raw);
}

}  // namespace sorvane
