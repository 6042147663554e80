// ICU regular expressions compiled once and applied with replace-all semantics.
//
// Every text rule of the system is an ICU pattern (\p{Han}, look-behind, (?i), (?m),
// "$1" templates). A `Regex` is compiled once, usually into a static rule table, and is
// then shared by every thread: matchers are cached per thread and per pattern, so a call
// costs no allocation after the first. A pattern that fails to compile is logged once and
// behaves as "no match": replacements return their input unchanged and nothing throws.
// Each match operation runs under ICU's match time limit, so hostile input cannot stall a
// turn: a replacement or search that hits the limit leaves its input unchanged, while
// `allMatches` and `countMatches` keep the matches found before it; either way the
// pattern is logged once.
//
// Offsets reported by `Match` are UTF-16 code units, the unit of the regex engine.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/regex.h>
#include <unicode/unistr.h>

namespace sorvane {

struct RegexMatch {
  std::size_t start = 0;  // UTF-16 offset of the whole match
  std::size_t end = 0;
  // Group 0 is the whole match; a group that did not take part is empty.
  std::vector<std::string> groups;
  std::vector<bool> groupMatched;
};

class Regex {
 public:
  enum Flags : unsigned { kNone = 0, kCaseInsensitive = 1, kLiteral = 2, kMultiline = 4 };

  Regex() = default;
  explicit Regex(std::string_view pattern, unsigned flags = kNone);

  bool valid() const { return pattern_ != nullptr; }
  const std::string& source() const { return source_; }

  // Replace every match by `replacement` ("$1" refers to group 1; "\$" is a dollar).
  std::string replaceAll(std::string_view text, std::string_view replacement) const;
  // In-place form on UTF-16 text; returns the number of replacements made (0 on error).
  std::size_t replaceAll(icu::UnicodeString& text, const icu::UnicodeString& replacement) const;

  bool search(std::string_view text) const;
  bool search(const icu::UnicodeString& text) const;
  bool search(const char* text) const { return search(std::string_view(text)); }
  // The whole text must match.
  bool fullMatch(std::string_view text) const;
  std::size_t countMatches(std::string_view text) const;
  std::size_t countMatches(const icu::UnicodeString& text) const;
  std::size_t countMatches(const char* text) const { return countMatches(std::string_view(text)); }
  std::optional<RegexMatch> firstMatch(std::string_view text) const;
  std::vector<RegexMatch> allMatches(std::string_view text) const;
  std::vector<RegexMatch> allMatches(const icu::UnicodeString& text) const;
  std::vector<RegexMatch> allMatches(const char* text) const { return allMatches(std::string_view(text)); }

  // Matchers this thread holds (a diagnostic for tests).
  static std::size_t cachedMatchersOnThisThread();

  // The match step budget of ICU's time limit, shared by all patterns.
  static constexpr int kMatchTimeLimit = 400;

 private:
  std::string source_;
  std::shared_ptr<const icu::RegexPattern> pattern_;
  // Shared by copies of this Regex; the per-thread matcher cache drops its entry once
  // every copy is gone, so short-lived patterns do not accumulate matchers.
  std::shared_ptr<const char> alive_;
  std::size_t id_ = 0;
};

// A pattern from a process-wide cache, compiled on first use.
const Regex& cachedRegex(std::string_view pattern);
std::string regexReplaceAll(std::string_view text, std::string_view pattern,
                            std::string_view replacement);
bool regexSearch(std::string_view text, std::string_view pattern);

// One row of an ordered rule table.
struct ReplaceRule {
  std::string_view pattern;
  std::string_view replacement;
};

// An ordered list of rules compiled once; `apply` runs them in order, each on the
// output of the one before.
class RuleTable {
 public:
  explicit RuleTable(std::span<const ReplaceRule> rules, unsigned flags = Regex::kNone);
  std::string apply(std::string_view text) const;
  void apply(icu::UnicodeString& text) const;
  // Number of replacements made by all rules.
  std::size_t applyCounting(icu::UnicodeString& text) const;
  std::size_t size() const { return rows_.size(); }

 private:
  struct Row {
    Regex regex;
    icu::UnicodeString replacement;
  };
  std::vector<Row> rows_;
};

}  // namespace sorvane
