#include "postprocess/guarded_rule_table.h"

#include <algorithm>
#include <bitset>

#include "core/unicode_text.h"

namespace sorvane {
namespace {

bool isAsciiAlnum(UChar32 c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isHexDigit(UChar c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isOctalDigit(UChar c) { return c >= '0' && c <= '7'; }

// Index just past the escape that starts at `i` (a backslash), for every escape form of
// ICU patterns: \uhhhh, \Uhhhhhhhh, \xhh, \x{h...}, \0ooo, \cX, \N{name}, \p{..}, \pL,
// \k<name>, \Q...\E, and a backslash before any other single character.
int32_t escapeEnd(const icu::UnicodeString& p, int32_t i) {
  const int32_t n = p.length();
  if (i + 1 >= n) return n;
  const UChar32 c = p.char32At(i + 1);
  const int32_t j = i + 1 + U16_LENGTH(c);
  auto upTo = [&](UChar close) {
    const int32_t at = p.indexOf(close, j);
    return at < 0 ? n : at + 1;
  };
  auto digits = [&](int32_t most, bool (*isDigit)(UChar)) {
    int32_t k = j;
    while (k < n && k - j < most && isDigit(p.charAt(k))) ++k;
    return k;
  };
  const bool braced = j < n && p.charAt(j) == u'{';
  switch (c) {
    case u'p':
    case u'P':
      return braced ? upTo(u'}') : std::min(j + 1, n);
    case u'N':
      return braced ? upTo(u'}') : j;
    case u'x':
      return braced ? upTo(u'}') : digits(2, isHexDigit);
    case u'u':
      return digits(4, isHexDigit);
    case u'U':
      return digits(8, isHexDigit);
    case u'0':
      return digits(3, isOctalDigit);
    case u'c':
      return std::min(j + 1, n);
    case u'k':
      return j < n && p.charAt(j) == u'<' ? upTo(u'>') : j;
    case u'Q': {
      const int32_t end = p.indexOf(u"\\E", j);
      return end < 0 ? n : end + 2;
    }
    default:
      return j;
  }
}

// Index just past the character class that opens at `i` (a "[" ), nested classes and
// escapes included; the pattern length when it never closes.
int32_t skipClass(const icu::UnicodeString& p, int32_t i) {
  int depth = 0;
  const int32_t n = p.length();
  while (i < n) {
    const UChar c = p.charAt(i);
    if (c == u'\\') {
      i = escapeEnd(p, i);
      continue;
    }
    if (c == u'[') ++depth;
    if (c == u']' && --depth == 0) return i + 1;
    ++i;
  }
  return n;
}

// Index just past the group that opens at `i` (a "(").
int32_t skipGroup(const icu::UnicodeString& p, int32_t i) {
  int depth = 0;
  const int32_t n = p.length();
  while (i < n) {
    const UChar c = p.charAt(i);
    if (c == u'\\') {
      i = escapeEnd(p, i);
      continue;
    }
    if (c == u'[') {
      i = skipClass(p, i);
      continue;
    }
    if (c == u'(') ++depth;
    if (c == u')' && --depth == 0) return i + 1;
    ++i;
  }
  return n;
}

struct Prefilter {
  icu::UnicodeString literal;  // empty: none
  bool caseInsensitive = false;
};

Prefilter derivePrefilter(std::string_view pattern, unsigned flags) {
  Prefilter result;
  result.caseInsensitive = (flags & Regex::kCaseInsensitive) != 0;
  const icu::UnicodeString p = text::toUnicode(pattern);
  if (flags & Regex::kLiteral) {
    result.literal = p;
    return result;
  }
  int32_t i = 0;
  const int32_t n = p.length();
  // Leading inline flags such as "(?i)"; any other flag group makes the row unfiltered.
  if (p.startsWith(u"(?")) {
    int32_t j = 2;
    while (j < n && (p.charAt(j) == u'i' || p.charAt(j) == u's' || p.charAt(j) == u'm')) ++j;
    if (j > 2 && j < n && p.charAt(j) == u')') {
      if (p.tempSubStringBetween(2, j).indexOf(u'i') >= 0) result.caseInsensitive = true;
      i = j + 1;
    }
  }
  if (p.indexOf(u"\\Q") >= 0 || p.indexOf(u"(?i", i) >= 0 || p.indexOf(u"(?x", i) >= 0) return {};

  icu::UnicodeString best;
  icu::UnicodeString run;
  bool lastWasLiteral = false;
  auto endRun = [&] {
    if (run.length() > best.length()) best = run;
    run.remove();
    lastWasLiteral = false;
  };
  auto addLiteral = [&](UChar32 c) {
    run.append(c);
    lastWasLiteral = true;
  };
  while (i < n) {
    const UChar32 c = p.char32At(i);
    if (c == u'|') return {};  // alternation outside any group
    if (c == u'\\') {
      if (i + 1 >= n) return {};
      const UChar32 next = p.char32At(i + 1);
      // A back reference (\1, \12) repeats text of its group, and digits after it may
      // belong to its number: such a row has no required text.
      if (next >= u'1' && next <= u'9') return {};
      if (isAsciiAlnum(next)) {
        // A class, an anchor, a code point or a named character: never plain text here.
        i = escapeEnd(p, i);
        endRun();
      } else {
        i += 1 + U16_LENGTH(next);
        addLiteral(next);
      }
      continue;
    }
    if (c == u'[') {
      i = skipClass(p, i);
      endRun();
      continue;
    }
    if (c == u'(') {
      i = skipGroup(p, i);
      endRun();
      continue;
    }
    if (c == u'?' || c == u'*' || c == u'+' || c == u'{') {
      // A quantifier: an optional last character leaves the run; a repeated one ends it.
      if (lastWasLiteral && c != u'+') run.truncate(run.moveIndex32(run.length(), -1));
      endRun();
      if (c == u'{') {
        const int32_t close = p.indexOf(u'}', i);
        i = close < 0 ? n : close + 1;
      } else {
        ++i;
      }
      if (i < n && (p.charAt(i) == u'?' || p.charAt(i) == u'+')) ++i;  // lazy or possessive
      continue;
    }
    if (c == u'.' || c == u'^' || c == u'$' || c == u')') {
      ++i;
      endRun();
      continue;
    }
    addLiteral(c);
    i += U16_LENGTH(c);
  }
  endRun();
  result.literal = best;
  return result;
}

}  // namespace

icu::UnicodeString GuardedRuleTable::requiredLiteral(std::string_view pattern, unsigned flags) {
  return derivePrefilter(pattern, flags).literal;
}

GuardedRuleTable::GuardedRuleTable(std::span<const ReplaceRule> rules, unsigned flags) {
  rows_.reserve(rules.size());
  for (const ReplaceRule& rule : rules) addRow(rule.pattern, rule.replacement, {}, flags);
}

GuardedRuleTable::GuardedRuleTable(std::span<const GuardedRule> rules, unsigned flags) {
  rows_.reserve(rules.size());
  for (const GuardedRule& rule : rules) addRow(rule.pattern, rule.replacement, rule.anyOf, flags);
}

void GuardedRuleTable::addRow(std::string_view pattern, std::string_view replacement, std::string_view anyOf,
                              unsigned flags) {
  Row row{Regex(pattern, flags), text::toUnicode(replacement), {}, false};
  const Prefilter derived = derivePrefilter(pattern, flags);
  row.caseInsensitive = derived.caseInsensitive;
  if (!anyOf.empty()) {
    std::size_t begin = 0;
    while (begin <= anyOf.size()) {
      const std::size_t end = std::min(anyOf.find('|', begin), anyOf.size());
      row.anyOf.push_back(text::toUnicode(anyOf.substr(begin, end - begin)));
      begin = end + 1;
    }
  } else if (!derived.literal.isEmpty()) {
    row.anyOf.push_back(derived.literal);
  }
  if (row.caseInsensitive) {
    for (icu::UnicodeString& literal : row.anyOf) literal.foldCase();
  }
  rows_.push_back(std::move(row));
}

namespace {

// A cheap first test before searching for a row's literal: which UTF-16 units (hashed to
// 4096 bits) occur in the text or in its case-folded form. A literal with a unit that is not
// marked cannot occur. Units that replacements bring in are added, units they remove are
// not cleared, so the set stays a superset of the text and never rejects a real match.
class UnitPresence {
 public:
  explicit UnitPresence(const icu::UnicodeString& text) { add(text); }
  void add(const icu::UnicodeString& text) {
    markAll(text);
    icu::UnicodeString folded(text);
    markAll(folded.foldCase());
  }
  bool mayContain(const icu::UnicodeString& literal) const {
    const char16_t* units = literal.getBuffer();
    for (int32_t i = 0, n = literal.length(); i < n; ++i) {
      if (!bits_.test(units[i] & kMask)) return false;
    }
    return true;
  }

 private:
  static constexpr unsigned kMask = 4095;
  void markAll(const icu::UnicodeString& text) {
    const char16_t* units = text.getBuffer();
    for (int32_t i = 0, n = text.length(); i < n; ++i) bits_.set(units[i] & kMask);
  }
  std::bitset<kMask + 1> bits_;
};

}  // namespace

std::size_t GuardedRuleTable::apply(icu::UnicodeString& text) const {
  std::size_t count = 0;
  icu::UnicodeString folded;
  bool foldedCurrent = false;
  UnitPresence presence(text);
  for (const Row& row : rows_) {
    if (!row.anyOf.empty()) {
      const icu::UnicodeString* haystack = &text;
      bool present = false;
      for (const icu::UnicodeString& literal : row.anyOf) {
        if (!presence.mayContain(literal)) continue;
        if (row.caseInsensitive) {
          if (!foldedCurrent) {
            folded = text;
            folded.foldCase();
            foldedCurrent = true;
          }
          haystack = &folded;
        }
        if (haystack->indexOf(literal) >= 0) {
          present = true;
          break;
        }
      }
      if (!present) continue;
    }
    const std::size_t replaced = row.regex.replaceAll(text, row.replacement);
    if (replaced > 0) {
      count += replaced;
      foldedCurrent = false;
      presence.add(row.replacement);
    }
  }
  return count;
}

std::string GuardedRuleTable::apply(std::string_view text) const {
  icu::UnicodeString u = text::toUnicode(text);
  if (apply(u) == 0) return std::string(text);
  return text::toUtf8(u);
}

}  // namespace sorvane
