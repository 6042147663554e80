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

// What an operation that ran out of time still gives.
enum class OnTimeout { leftUnchanged, keptMatchesFound };

void reportFailure(const std::string& source, UErrorCode status, OnTimeout onTimeout = OnTimeout::leftUnchanged) {
  if (status == U_REGEX_TIME_OUT) {
    // One line per pattern, whichever operation ran out of time first.
    logOnce("timeout:" + source, onTimeout == OnTimeout::leftUnchanged
                                     ? "text rule hit match time limit; text left unchanged pattern=" + source
                                     : "text rule hit match time limit; kept the matches found before it pattern=" +
                                           source);
  } else {
    logOnce("fail:" + source, std::string("text rule failed; text left unchanged error=") +
                                  u_errorName(status) + " pattern=" + source);
  }
}

// This thread's matcher for one pattern, set to one text for the span of one operation.
// On leaving, it is reset to an empty text so that the cached matcher keeps no reference
// to the caller's text. Empty (false) when the pattern did not compile or no matcher
// could be made.
class BoundMatcher {
 public:
  BoundMatcher(std::size_t id, const std::shared_ptr<const icu::RegexPattern>& pattern,
               const std::shared_ptr<const char>& owner, const icu::UnicodeString& text)
      : matcher_(pattern ? matcherFor(id, pattern, owner) : nullptr) {
    if (matcher_) matcher_->reset(text);
  }
  ~BoundMatcher() {
    static const icu::UnicodeString kNoText;
    if (matcher_) matcher_->reset(kNoText);
  }
  BoundMatcher(const BoundMatcher&) = delete;
  BoundMatcher& operator=(const BoundMatcher&) = delete;

  explicit operator bool() const { return matcher_ != nullptr; }
  icu::RegexMatcher* operator->() const { return matcher_; }

  // The current match with all its groups.
  RegexMatch current(UErrorCode& status) const {
    RegexMatch match;
    match.start = static_cast<std::size_t>(matcher_->start(status));
    match.end = static_cast<std::size_t>(matcher_->end(status));
    for (int32_t g = 0, groups = matcher_->groupCount(); g <= groups; ++g) {
      const int32_t start = matcher_->start(g, status);
      match.groupMatched.push_back(start >= 0);
      match.groups.push_back(start >= 0 ? text::toUtf8(matcher_->group(g, status)) : std::string());
    }
    return match;
  }

 private:
  icu::RegexMatcher* matcher_;
};

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
  BoundMatcher m(id_, pattern_, alive_, text);
  if (!m) return 0;
  UErrorCode status = U_ZERO_ERROR;
  if (!m->find(status)) {
    if (U_FAILURE(status)) reportFailure(source_, status);
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
    return 0;
  }
  m->appendTail(out);
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
  BoundMatcher m(id_, pattern_, alive_, text);
  if (!m) return false;
  UErrorCode status = U_ZERO_ERROR;
  const bool found = m->find(status);
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    return false;
  }
  return found;
}

bool Regex::search(std::string_view text) const { return search(text::toUnicode(text)); }

bool Regex::fullMatch(std::string_view text) const {
  const icu::UnicodeString u = text::toUnicode(text);
  BoundMatcher m(id_, pattern_, alive_, u);
  if (!m) return false;
  UErrorCode status = U_ZERO_ERROR;
  const bool matched = m->matches(status);
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    return false;
  }
  return matched;
}

std::vector<RegexMatch> Regex::allMatches(const icu::UnicodeString& text) const {
  std::vector<RegexMatch> matches;
  BoundMatcher m(id_, pattern_, alive_, text);
  if (!m) return matches;
  UErrorCode status = U_ZERO_ERROR;
  while (m->find(status)) {
    RegexMatch match = m.current(status);
    if (U_FAILURE(status)) break;
    matches.push_back(std::move(match));
  }
  // A search that ran out of time keeps what it found before.
  if (U_FAILURE(status)) reportFailure(source_, status, OnTimeout::keptMatchesFound);
  if (U_FAILURE(status) && status != U_REGEX_TIME_OUT) matches.clear();
  return matches;
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
  return allMatches(text::toUnicode(text));
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
  const icu::UnicodeString u = text::toUnicode(text);
  BoundMatcher m(id_, pattern_, alive_, u);
  if (!m) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  std::optional<RegexMatch> result;
  if (m->find(status)) result = m.current(status);
  if (U_FAILURE(status)) {
    reportFailure(source_, status);
    return std::nullopt;
  }
  return result;
}

std::size_t Regex::countMatches(const icu::UnicodeString& text) const {
  BoundMatcher m(id_, pattern_, alive_, text);
  if (!m) return 0;
  UErrorCode status = U_ZERO_ERROR;
  std::size_t count = 0;
  while (m->find(status)) ++count;
  if (U_FAILURE(status)) {
    // Like `allMatches`: a count that ran out of time is the count found before.
    reportFailure(source_, status, OnTimeout::keptMatchesFound);
    if (status != U_REGEX_TIME_OUT) count = 0;
  }
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
