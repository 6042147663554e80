#include "core/regex.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <unordered_map>

#include <unicode/regex.h>

#include "core/log.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

std::atomic<std::size_t> nextRegexId{1};

void logOnce(const std::string& key, const std::string& line) {
  static std::mutex mutex;
  static std::map<std::string, bool> seen;
  {
    std::lock_guard lock(mutex);
    if (!seen.emplace(key, true).second) return;
  }
  appLog(line);
}

struct CachedMatcher {
  std::weak_ptr<const char> owner;  // expires when the last copy of the Regex is gone
  // Declared before the matcher so that the matcher is destroyed first.
  std::shared_ptr<const icu::RegexPattern> pattern;
  std::unique_ptr<icu::RegexMatcher> matcher;
};

// Matchers are not thread-safe, patterns are: each thread keeps one matcher per pattern.
// Entries of patterns that no longer exist are swept whenever the cache has doubled.
std::unordered_map<std::size_t, CachedMatcher>& matcherCache() {
  thread_local std::unordered_map<std::size_t, CachedMatcher> cache;
  return cache;
}

icu::RegexMatcher* matcherFor(std::size_t id, const std::shared_ptr<const icu::RegexPattern>& pattern,
                              const std::shared_ptr<const char>& owner) {
  auto& cache = matcherCache();
  thread_local std::size_t sweepAt = 256;
  auto it = cache.find(id);
  if (it != cache.end()) return it->second.matcher.get();
  if (cache.size() >= sweepAt) {
    std::erase_if(cache, [](const auto& entry) { return entry.second.owner.expired(); });
    sweepAt = std::max<std::size_t>(256, 2 * cache.size());
  }
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(status));
  if (U_FAILURE(status) || !matcher) return nullptr;
  matcher->setTimeLimit(Regex::kMatchTimeLimit, status);
  icu::RegexMatcher* raw = matcher.get();
  cache.emplace(id, CachedMatcher{owner, pattern, std::move(matcher)});
  return raw;
}

void reportFailure(const std::string& source, UErrorCode status) {
  if (status == U_REGEX_TIME_OUT) {
    logOnce("timeout:" + source, "text rule hit match time limit; text left unchanged pattern=" + source);
  } else {
    logOnce("fail:" + source, std::string("text rule failed; text left unchanged error=") +
                                  u_errorName(status) + " pattern=" + source);
  }
}

}  // namespace

Regex::Regex(std::string_view pattern, unsigned flags) : source_(pattern) {
  uint32_t icuFlags = 0;
  if (flags & kCaseInsensitive) icuFlags |= UREGEX_CASE_INSENSITIVE;
  if (flags & kLiteral) icuFlags |= UREGEX_LITERAL;
  if (flags & kMultiline) icuFlags |= UREGEX_MULTILINE;
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(text::toUnicode(pattern), icuFlags, parseError, status));
  if (U_FAILURE(status) || !compiled) {
    logOnce("compile:" + source_, std::string("text rule pattern failed to compile error=") +
                                      u_errorName(status) + " pattern=" + source_);
    return;
  }
  pattern_ = std::shared_ptr<const icu::RegexPattern>(std::move(compiled));
  alive_ = std::make_shared<const char>(0);
  id_ = nextRegexId.fetch_add(1);
}

std::size_t Regex::replaceAll(icu::UnicodeString& text, const icu::UnicodeString& replacement) const {
  if (!pattern_) return 0;
  icu::RegexMatcher* m = matcherFor(id_, pattern_, alive_);
  if (!m) return 0;
  m->reset(text);
  UErrorCode status = U_ZERO_ERROR;
  if (!m->find(status)) {
    if (U_FAILURE(status)) reportFailure(source_, status);
    m->reset(icu::UnicodeString());
    return 0;
  }
  icu::UnicodeString out;
  std::size_t count = 0;
  do {
    m->appendReplacement(out, replacement, status);
    if (U_FAILURE(status)) break;
    ++count;
  } while (m->find(status));
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    m->reset(icu::UnicodeString());
    return 0;
  }
  m->appendTail(out);
  m->reset(icu::UnicodeString());  // drop the reference to the caller's text
  text = std::move(out);
  return count;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
  if (!pattern_) return std::string(text);
  icu::UnicodeString u = text::toUnicode(text);
  if (replaceAll(u, text::toUnicode(replacement)) == 0) return std::string(text);
  return text::toUtf8(u);
}

bool Regex::search(const icu::UnicodeString& text) const {
  if (!pattern_) return false;
  icu::RegexMatcher* m = matcherFor(id_, pattern_, alive_);
  if (!m) return false;
  m->reset(text);
  UErrorCode status = U_ZERO_ERROR;
  bool found = m->find(status);
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    found = false;
  }
  m->reset(icu::UnicodeString());
  return found;
}

bool Regex::search(std::string_view text) const { return search(text::toUnicode(text)); }

bool Regex::fullMatch(std::string_view text) const {
  if (!pattern_) return false;
  icu::RegexMatcher* m = matcherFor(id_, pattern_, alive_);
  if (!m) return false;
  icu::UnicodeString u = text::toUnicode(text);
  m->reset(u);
  UErrorCode status = U_ZERO_ERROR;
  bool matched = m->matches(status);
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    matched = false;
  }
  m->reset(icu::UnicodeString());
  return matched;
}

std::vector<RegexMatch> Regex::allMatches(const icu::UnicodeString& text) const {
  std::vector<RegexMatch> matches;
  if (!pattern_) return matches;
  icu::RegexMatcher* m = matcherFor(id_, pattern_, alive_);
  if (!m) return matches;
  m->reset(text);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t groups = m->groupCount();
  while (m->find(status)) {
    RegexMatch match;
    match.start = static_cast<std::size_t>(m->start(status));
    match.end = static_cast<std::size_t>(m->end(status));
    for (int32_t g = 0; g <= groups; ++g) {
      int32_t s = m->start(g, status);
      match.groupMatched.push_back(s >= 0);
      match.groups.push_back(s >= 0 ? text::toUtf8(m->group(g, status)) : std::string());
    }
    matches.push_back(std::move(match));
  }
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    matches.clear();
  }
  m->reset(icu::UnicodeString());
  return matches;
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
  return allMatches(text::toUnicode(text));
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
  if (!pattern_) return std::nullopt;
  icu::RegexMatcher* m = matcherFor(id_, pattern_, alive_);
  if (!m) return std::nullopt;
  icu::UnicodeString u = text::toUnicode(text);
  m->reset(u);
  UErrorCode status = U_ZERO_ERROR;
  std::optional<RegexMatch> result;
  if (m->find(status) && U_SUCCESS(status)) {
    RegexMatch match;
    match.start = static_cast<std::size_t>(m->start(status));
    match.end = static_cast<std::size_t>(m->end(status));
    for (int32_t g = 0; g <= m->groupCount(); ++g) {
      int32_t s = m->start(g, status);
      match.groupMatched.push_back(s >= 0);
      match.groups.push_back(s >= 0 ? text::toUtf8(m->group(g, status)) : std::string());
    }
    result = std::move(match);
  }
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    result.reset();
  }
  m->reset(icu::UnicodeString());
  return result;
}

std::size_t Regex::countMatches(const icu::UnicodeString& text) const {
  if (!pattern_) return 0;
  icu::RegexMatcher* m = matcherFor(id_, pattern_, alive_);
  if (!m) return 0;
  m->reset(text);
  UErrorCode status = U_ZERO_ERROR;
  std::size_t count = 0;
  while (m->find(status)) ++count;
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    count = 0;
  }
  m->reset(icu::UnicodeString());
  return count;
}

std::size_t Regex::countMatches(std::string_view text) const {
  return countMatches(text::toUnicode(text));
}

std::size_t Regex::cachedMatchersOnThisThread() { return matcherCache().size(); }

const Regex& cachedRegex(std::string_view pattern) {
  static std::mutex mutex;
  static std::unordered_map<std::string, std::unique_ptr<Regex>> cache;
  std::lock_guard lock(mutex);
  auto it = cache.find(std::string(pattern));
  if (it != cache.end()) return *it->second;
  auto [inserted, _] = cache.emplace(std::string(pattern), std::make_unique<Regex>(pattern));
  return *inserted->second;
}

std::string regexReplaceAll(std::string_view text, std::string_view pattern,
                            std::string_view replacement) {
  return cachedRegex(pattern).replaceAll(text, replacement);
}

bool regexSearch(std::string_view text, std::string_view pattern) {
  return cachedRegex(pattern).search(text);
}

RuleTable::RuleTable(std::span<const ReplaceRule> rules, unsigned flags) {
  rows_.reserve(rules.size());
  for (const ReplaceRule& rule : rules) {
    rows_.push_back(Row{Regex(rule.pattern, flags), text::toUnicode(rule.replacement)});
  }
}

std::size_t RuleTable::applyCounting(icu::UnicodeString& text) const {
  std::size_t count = 0;
  for (const Row& row : rows_) count += row.regex.replaceAll(text, row.replacement);
  return count;
}

void RuleTable::apply(icu::UnicodeString& text) const { applyCounting(text); }

std::string RuleTable::apply(std::string_view text) const {
  icu::UnicodeString u = text::toUnicode(text);
  if (applyCounting(u) == 0) return std::string(text);
  return text::toUtf8(u);
}

}  // namespace sorvane
