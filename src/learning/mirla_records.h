// The records the data store keeps on disk, and their one-line JSON form.
//
// `MirlaHistoryEntry` (one delivered turn, appended to "history.jsonl"),
// `MirlaFeedbackEntry` (one user correction or manual sample, appended to
// "feedback.jsonl") and `MirlaDictionaryTerm` (one personal dictionary entry, inside the
// `DictionaryFile` that "dictionary.json" holds whole). The field names are the JSON
// keys. A record is written as one line with sorted keys, no white space, "\/" for every
// slash, integers as JSON integers, and an absent optional field left out (never null).
// Decoding requires every non-optional key with its JSON type (a null optional counts as
// absent) and never throws: anything else gives nothing, and the reader skips that line.
//
// `MirlaDashboardStats` is computed on demand and never stored; `dailyCharacterBuckets`
// labels the last seven local days "M/d" as the zh_CN calendar writes them.
//
// Pure value types and functions (ICU for the calendar); safe on any queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/json.h"

namespace sorvane {

struct MirlaHistoryEntry {
  std::string id;
  int64_t createdAtMs = 0;
  std::string rawText;    // clipped with clipRawText
  std::string finalText;  // clipped with clipDeliveredText
  std::optional<std::string> audioPath;
  std::string appName;
  std::string bundleIdentifier;
  std::string scene;
  std::string inputBoxIdentifier;
  std::string mode;
  std::string asrProvider;
  std::string refineProvider;
  std::string status;  // "pasted" or "copy-panel"
  int64_t recordingMs = 0;
  int64_t stopToPasteMs = 0;
  int64_t refineMs = 0;
  int64_t totalMs = 0;
  int64_t finalChars = 0;  // characters of the delivered text before clipping

  friend bool operator==(const MirlaHistoryEntry&, const MirlaHistoryEntry&) = default;
};

struct MirlaFeedbackEntry {
  std::string id;
  std::optional<std::string> turnID;
  int64_t createdAtMs = 0;
  std::string rawText;
  std::string finalText;
  std::string editedText;
  std::optional<std::string> audioPath;
  std::string appName;
  std::string scene;
  std::optional<std::string> oldSegment;
  std::optional<std::string> newSegment;
  std::string learnedTerm;  // learnt terms joined with ", ", or empty
  std::string strategySuggestion;
  double confidence = 0;
  std::string status;

  friend bool operator==(const MirlaFeedbackEntry&, const MirlaFeedbackEntry&) = default;
};

struct MirlaDictionaryTerm {
  std::string term;
  std::string source;  // "manual", "llm-feedback", "llm-passive-confirmed", ...
  std::optional<std::string> reason;
  int64_t count = 1;
  int64_t createdAtMs = 0;
  int64_t updatedAtMs = 0;

  friend bool operator==(const MirlaDictionaryTerm&, const MirlaDictionaryTerm&) = default;
};

// The content of "dictionary.json": {"candidates": {term: counter}, "terms": [...]}.
struct DictionaryFile {
  std::vector<MirlaDictionaryTerm> terms;
  std::map<std::string, int64_t> candidates;

  friend bool operator==(const DictionaryFile&, const DictionaryFile&) = default;
};

struct MirlaDashboardStats {
  int64_t turnCount = 0;
  int64_t todayRecordingMs = 0;
  int64_t todayChars = 0;
  int64_t todaySavedMs = 0;
  int64_t totalRecordingMs = 0;
  int64_t totalChars = 0;
  int64_t estimatedSavedMs = 0;
  int64_t dictionaryCount = 0;
  int64_t feedbackCount = 0;
  // Seven (label, characters) pairs, oldest day first.
  std::vector<std::pair<std::string, int64_t>> dailyChars;

  friend bool operator==(const MirlaDashboardStats&, const MirlaDashboardStats&) = default;
};

// --- stored text limits (characters) ---
inline constexpr std::size_t kRawTextLimit = 2600;        // longer: first 1300 + "..." + last 1297
inline constexpr std::size_t kDeliveredTextLimit = 3600;  // longer: first 1800 + "..." + last 1797
// `text` when it has at most `limit` characters, else its first limit/2 characters,
// "..." and its last limit - limit/2 - 3 (exactly `limit` characters in all).
std::string clipAroundEllipsis(std::string_view text, std::size_t limit);
std::string clipRawText(std::string_view text);
std::string clipDeliveredText(std::string_view text);

// --- the line format ---
Json toJson(const MirlaHistoryEntry& entry);
Json toJson(const MirlaFeedbackEntry& entry);
Json toJson(const MirlaDictionaryTerm& term);
Json toJson(const DictionaryFile& file);
// The record as one line, without the line feed.
template <typename Record>
std::string encodeRecordLine(const Record& record) {
  return toJsonLine(toJson(record));
}

std::optional<MirlaHistoryEntry> historyEntryFromJson(const Json& object);
std::optional<MirlaFeedbackEntry> feedbackEntryFromJson(const Json& object);
std::optional<MirlaDictionaryTerm> dictionaryTermFromJson(const Json& object);
std::optional<MirlaHistoryEntry> decodeHistoryLine(std::string_view line);
std::optional<MirlaFeedbackEntry> decodeFeedbackLine(std::string_view line);

// Reading "dictionary.json". `damaged` is true when the text is not a dictionary object,
// or when some term or counter in it does not decode; the terms and counters that do
// decode are kept, so one bad entry does not cost the rest of the dictionary.
struct DictionaryDecoding {
  DictionaryFile file;
  bool damaged = false;
};
DictionaryDecoding decodeDictionaryFile(std::string_view text);

// --- dashboard statistics ---
// Typing is taken to cost this much per character; dictation costs only the wait after
// speaking (totalMs - recordingMs).
inline constexpr int64_t kTypingMsPerCharacter = 260;

// Seven buckets for the local days ending today in `timeZoneId` (an ICU zone id; empty
// means the system zone). An entry counts toward the bucket whose "M/d" label equals the
// label of its own day, so a day of an earlier year with the same month and day lands in
// this year's bucket.
std::vector<std::pair<std::string, int64_t>> dailyCharacterBuckets(std::span<const MirlaHistoryEntry> history,
                                                                   int64_t nowMs,
                                                                   std::string_view timeZoneId = {});
// The start of the local calendar day holding `nowMs`, in milliseconds since 1970.
int64_t startOfLocalDay(int64_t nowMs, std::string_view timeZoneId = {});

MirlaDashboardStats computeDashboardStats(std::span<const MirlaHistoryEntry> history, int64_t feedbackCount,
                                          int64_t dictionaryCount, int64_t nowMs,
                                          std::string_view timeZoneId = {});

}  // namespace sorvane
