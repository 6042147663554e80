// An ordered rule table that skips rows which cannot match, for the text normaliser.
//
// The normaliser runs a few hundred ordered regex rows over every transcript, and almost
// every row is written for a phrase that a given text does not contain. Each row here
// carries the text it needs: the longest plain run of characters that every match must
// contain (found in the pattern itself), or an explicit list of alternatives of which one
// must occur. A row whose needed text is absent is skipped without running the regex, so
// the table gives exactly the result of running every row in order. Case-insensitive rows
// compare case-folded text. Compiled once (usually a function-local static); `apply` may
// run on any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

#include "core/regex.h"

namespace sorvane {

// A row with an explicit prefilter: `anyOf` lists, separated by "|", plain texts of
// which at least one occurs in every text the pattern matches. Empty: derived from the
// pattern as for a plain row.
struct GuardedRule {
  std::string_view pattern;
  std::string_view replacement;
  std::string_view anyOf;
};

class GuardedRuleTable {
 public:
  explicit GuardedRuleTable(std::span<const ReplaceRule> rules, unsigned flags = Regex::kNone);
  explicit GuardedRuleTable(std::span<const GuardedRule> rules, unsigned flags = Regex::kNone);

  // Runs every row in order, each on the output of the one before; returns how many
  // replacements were made.
  std::size_t apply(icu::UnicodeString& text) const;
  std::string apply(std::string_view text) const;
  std::size_t size() const { return rows_.size(); }

  // The longest run of plain characters outside any group that every match of `pattern`
  // contains; empty when there is none or the pattern is too intricate to tell.
  static icu::UnicodeString requiredLiteral(std::string_view pattern, unsigned flags);

 private:
  struct Row {
    Regex regex;
    icu::UnicodeString replacement;
    std::vector<icu::UnicodeString> anyOf;  // empty: always run
    bool caseInsensitive = false;
  };
  void addRow(std::string_view pattern, std::string_view replacement, std::string_view anyOf, unsigned flags);
  std::vector<Row> rows_;
};

}  // namespace sorvane
