// Unicode text helpers over ICU, shared by every text rule of the system.
//
// Lengths, limits and slices of user-visible text are counted in extended grapheme
// clusters ("characters"), so one Chinese character or one emoji with modifiers counts
// as one. Trimming removes characters with the Unicode White_Space property (spaces,
// tabs, newlines, the ideographic space) at both ends. Everything here is pure and may
// run on any queue; break iterators are cached per thread.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

namespace sorvane {
class Regex;
}

namespace sorvane::text {

icu::UnicodeString toUnicode(std::string_view utf8);
std::string toUtf8(const icu::UnicodeString& text);

// Extended grapheme clusters.
std::size_t graphemeCount(std::string_view utf8);
std::size_t graphemeCount(const icu::UnicodeString& text);
inline std::size_t graphemeCount(const char* utf8) { return graphemeCount(std::string_view(utf8)); }
// The clusters themselves, in order (none for an empty text).
std::vector<std::string> graphemeClusters(std::string_view utf8);
// The first / last `count` characters (the whole text when it is shorter).
std::string graphemePrefix(std::string_view utf8, std::size_t count);
std::string graphemeSuffix(std::string_view utf8, std::size_t count);
// `count` characters starting at character `start` (clamped to the text).
std::string graphemeSlice(std::string_view utf8, std::size_t start, std::size_t count);

// Length in UTF-16 code units, the unit in which regular-expression offsets are counted.
std::size_t utf16Length(std::string_view utf8);

bool isWhiteSpace(UChar32 c);
// Removes White_Space characters at both ends.
std::string trim(std::string_view utf8);
icu::UnicodeString trim(const icu::UnicodeString& text);
inline std::string trim(const char* utf8) { return trim(std::string_view(utf8)); }
// Removes White_Space characters and any character of `extra` at both ends.
std::string trimWithCharacters(std::string_view utf8, std::u32string_view extra);
bool isBlank(std::string_view utf8);

// Locale-independent lower / upper case mapping.
std::string toLower(std::string_view utf8);
std::string toUpper(std::string_view utf8);

bool contains(std::string_view haystack, std::string_view needle);
bool containsCaseInsensitive(std::string_view haystack, std::string_view needle);
// True when `haystack` contains at least one of `needles` (plain byte comparison).
bool containsAny(std::string_view haystack, std::span<const std::string_view> needles);
bool containsAny(std::string_view haystack, std::initializer_list<std::string_view> needles);
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);

// Plain replacement of every occurrence of `from` (left to right, non-overlapping).
std::string replaceLiteral(std::string_view text, std::string_view from, std::string_view to);
// The same with `from` compared without regard to case (full Unicode case folding).
std::string replaceLiteralCaseInsensitive(std::string_view text, std::string_view from,
                                          std::string_view to);

// The lines of `text`, split at every "\n" and without it: "" gives one empty line, and a
// trailing "\n" a last empty line, so `joinLines(splitLines(t)) == t`.
std::vector<std::string> splitLines(std::string_view text);
// The parts with `separator` between them.
std::string join(std::span<const std::string> parts, std::string_view separator);
inline std::string joinLines(std::span<const std::string> lines) { return join(lines, "\n"); }
// The pieces of `text` between the matches of `separator`, each trimmed, without the
// pieces that trim to nothing.
std::vector<std::string> splitTrimmed(std::string_view text, const Regex& separator);

// Drops bytes that are not valid UTF-8 (each bad sequence becomes U+FFFD), so that text
// from outside can always be serialised.
std::string sanitizeUtf8(std::string_view bytes);

}  // namespace sorvane::text
