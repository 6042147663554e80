#include "core/unicode_text.h"

#include <algorithm>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include "core/regex.h"

namespace sorvane::text {
namespace {

icu::BreakIterator& characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return it;
  }();
  return *iterator;
}

// Code points that always form a cluster of their own, whatever stands around them:
// printable ASCII, tab and line feed (controls break on both sides), CJK punctuation
// without its combining tone marks, CJK unified ideographs and the full-width ASCII forms.
// Transcripts consist almost entirely of these, so counting and slicing them needs no
// break iterator.
constexpr bool isSingletonCluster(UChar32 c) {
  return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || (c >= 0x4E00 && c <= 0x9FFF) ||
         (c >= 0x3000 && c <= 0x303F && !(c >= 0x302A && c <= 0x302F)) || (c >= 0xFF01 && c <= 0xFF5E);
}

bool allSingletonClusters(const icu::UnicodeString& text) {
  const char16_t* units = text.getBuffer();
  for (int32_t i = 0, n = text.length(); i < n; ++i) {
    if (!isSingletonCluster(units[i])) return false;  // surrogates are never singletons here
  }
  return true;
}

// Calls `visit(end)` with the UTF-16 offset at the end of each grapheme cluster, in
// order, until it returns false. `visit` must not use the grapheme helpers itself: the
// per-thread break iterator is in use meanwhile.
template <typename Visit>
void visitClusterEnds(const icu::UnicodeString& text, Visit visit) {
  if (allSingletonClusters(text)) {
    for (int32_t end = 1; end <= text.length(); ++end) {
      if (!visit(end)) return;
    }
    return;
  }
  icu::BreakIterator& it = characterIterator();
  it.setText(text);
  it.first();
  for (int32_t end = it.next(); end != icu::BreakIterator::DONE; end = it.next()) {
    if (!visit(end)) return;
  }
}

// UTF-16 offset after the first `count` grapheme clusters.
int32_t boundaryAfter(const icu::UnicodeString& text, std::size_t count) {
  if (count == 0) return 0;
  int32_t boundary = text.length();
  std::size_t seen = 0;
  visitClusterEnds(text, [&](int32_t end) {
    if (++seen < count) return true;
    boundary = end;
    return false;
  });
  return boundary;
}

bool inSet(UChar32 c, std::u32string_view set) {
  return set.find(static_cast<char32_t>(c)) != std::u32string_view::npos;
}

}  // namespace

icu::UnicodeString toUnicode(std::string_view utf8) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

std::size_t graphemeCount(const icu::UnicodeString& text) {
  std::size_t count = 0;
  visitClusterEnds(text, [&](int32_t) {
    ++count;
    return true;
  });
  return count;
}

std::size_t graphemeCount(std::string_view utf8) {
  // Fast path without conversion: every code point is a cluster of its own.
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  const int32_t length = static_cast<int32_t>(utf8.size());
  std::size_t count = 0;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0 || !isSingletonCluster(c)) return graphemeCount(toUnicode(utf8));
    ++count;
  }
  return count;
}

std::vector<std::string> graphemeClusters(std::string_view utf8) {
  std::vector<std::string> clusters;
  const icu::UnicodeString text = toUnicode(utf8);
  int32_t start = 0;
  visitClusterEnds(text, [&](int32_t end) {
    clusters.push_back(toUtf8(text.tempSubStringBetween(start, end)));
    start = end;
    return true;
  });
  return clusters;
}

std::string graphemePrefix(std::string_view utf8, std::size_t count) {
  icu::UnicodeString text = toUnicode(utf8);
  return toUtf8(text.tempSubString(0, boundaryAfter(text, count)));
}

std::string graphemeSuffix(std::string_view utf8, std::size_t count) {
  icu::UnicodeString text = toUnicode(utf8);
  std::size_t total = graphemeCount(text);
  if (count >= total) return toUtf8(text);
  int32_t start = boundaryAfter(text, total - count);
  return toUtf8(text.tempSubString(start));
}

std::string graphemeSlice(std::string_view utf8, std::size_t start, std::size_t count) {
  icu::UnicodeString text = toUnicode(utf8);
  int32_t from = boundaryAfter(text, start);
  int32_t to = boundaryAfter(text, start + count);
  return toUtf8(text.tempSubString(from, to - from));
}

std::size_t utf16Length(std::string_view utf8) {
  return static_cast<std::size_t>(toUnicode(utf8).length());
}

bool isWhiteSpace(UChar32 c) { return u_isUWhiteSpace(c) != 0; }

std::string trimWithCharacters(std::string_view utf8, std::u32string_view extra) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  int32_t length = static_cast<int32_t>(utf8.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t next = begin;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !(isWhiteSpace(c) || inSet(c, extra))) break;
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t prev = end;
    UChar32 c;
    U8_PREV(bytes, 0, prev, c);
    if (c < 0 || !(isWhiteSpace(c) || inSet(c, extra))) break;
    end = prev;
  }
  return std::string(utf8.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

std::string trim(std::string_view utf8) { return trimWithCharacters(utf8, {}); }

icu::UnicodeString trim(const icu::UnicodeString& text) {
  int32_t begin = 0;
  int32_t end = text.length();
  while (begin < end) {
    UChar32 c = text.char32At(begin);
    if (!isWhiteSpace(c)) break;
    begin += U16_LENGTH(c);
  }
  while (end > begin) {
    UChar32 c = text.char32At(end - 1);
    if (!isWhiteSpace(c)) break;
    end -= U16_LENGTH(c);
  }
  if (begin == 0 && end == text.length()) return text;
  return text.tempSubString(begin, end - begin);
}

bool isBlank(std::string_view utf8) { return trim(utf8).empty(); }

std::string toLower(std::string_view utf8) {
  icu::UnicodeString text = toUnicode(utf8);
  text.toLower(icu::Locale::getRoot());
  return toUtf8(text);
}

std::string toUpper(std::string_view utf8) {
  icu::UnicodeString text = toUnicode(utf8);
  text.toUpper(icu::Locale::getRoot());
  return toUtf8(text);
}

bool contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

bool containsCaseInsensitive(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return true;
  icu::UnicodeString h = toUnicode(haystack);
  icu::UnicodeString n = toUnicode(needle);
  h.foldCase();
  n.foldCase();
  return h.indexOf(n) >= 0;
}

bool containsAny(std::string_view haystack, std::span<const std::string_view> needles) {
  for (std::string_view needle : needles) {
    if (contains(haystack, needle)) return true;
  }
  return false;
}

bool containsAny(std::string_view haystack, std::initializer_list<std::string_view> needles) {
  return containsAny(haystack, std::span<const std::string_view>(needles.begin(), needles.size()));
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }
bool endsWith(std::string_view text, std::string_view suffix) { return text.ends_with(suffix); }

std::string replaceLiteral(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string replaceLiteralCaseInsensitive(std::string_view text, std::string_view from,
                                          std::string_view to) {
  if (from.empty()) return std::string(text);
  // Compared position by position with case folding of both sides, as a literal regex
  // with the case-insensitive flag does; the replacement is inserted verbatim.
  icu::UnicodeString source = toUnicode(text);
  icu::UnicodeString needle = toUnicode(from);
  icu::UnicodeString replacement = toUnicode(to);
  icu::UnicodeString out;
  int32_t pos = 0;
  int32_t last = 0;
  const int32_t n = needle.length();
  while (pos + 0 < source.length()) {
    // caseCompare on equal-length windows covers simple case folding; full folding that
    // changes length (ß/SS) is rare in our tables and is matched window by window.
    if (pos + n <= source.length() &&
        source.caseCompare(pos, n, needle, U_FOLD_CASE_DEFAULT) == 0) {
      out.append(source, last, pos - last);
      out.append(replacement);
      pos += n;
      last = pos;
    } else {
      pos += U16_LENGTH(source.char32At(pos));
    }
  }
  if (last == 0) return std::string(text);
  out.append(source, last, source.length() - last);
  return toUtf8(out);
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = text.find('\n', begin);
    lines.emplace_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return lines;
}

std::string join(std::span<const std::string> parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

std::vector<std::string> splitTrimmed(std::string_view text, const Regex& separator) {
  const icu::UnicodeString u = toUnicode(text);
  std::vector<std::string> pieces;
  int32_t begin = 0;
  auto addPiece = [&](int32_t end) {
    const icu::UnicodeString piece = trim(u.tempSubStringBetween(begin, end));
    if (!piece.isEmpty()) pieces.push_back(toUtf8(piece));
  };
  for (const RegexMatch& match : separator.allMatches(u)) {
    addPiece(static_cast<int32_t>(match.start));
    begin = static_cast<int32_t>(match.end);
  }
  addPiece(u.length());
  return pieces;
}

std::string sanitizeUtf8(std::string_view bytes) {
  return toUtf8(toUnicode(bytes));
}

}  // namespace sorvane::text
