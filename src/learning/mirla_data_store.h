// The local data store: turn history, feedback samples and the personal dictionary, in
// three files of the data folder (`Paths::dataFolder`):
//   history.jsonl    one MirlaHistoryEntry per line, appended
//   feedback.jsonl   one MirlaFeedbackEntry per line, appended
//   dictionary.json  the DictionaryFile, replaced whole and atomically on every change
// The store is the owner of the personal dictionary: the echo and hallucination guards
// get its term texts from `dictionaryTermTexts`, the recognisers' hints get
// `dictionaryCorpusText`.
//
// Queue: every public operation runs its file access synchronously on the serial queue
// "app.sorvane.mirla.data" (`Dispatcher::queue`, `runSync`) and returns when it is done,
// so all reads, appends and dictionary changes are totally ordered. Call them from any
// queue (the caller blocks for the file access); called on the data queue itself they
// run inline. The learning operations (`learnFromEdit`, `confirmPassiveDictionaryTerms`)
// run as one task, so their dictionary changes and their feedback record are not
// interleaved with other operations. The store keeps no data in memory between calls:
// every operation reads the files afresh. One instance per process, made by the
// application and handed to those who need it.
//
// Files are private: folders are created 0700 (the data folder and its "audio"
// sub-folder when the store is made, again before every write), files 0600, whatever
// the umask. Appends are whole lines: a line cut short by a failed write is truncated
// away, and a file left without a final line feed gets one before the next record.
// Readers of the last N records read from the end of the file, so their cost follows N,
// not the file's size. Failures never reach the caller: a line that does not decode is
// skipped, an unreadable file reads as empty, a failed write is logged; each such
// problem is logged once ("mirla data ..." / "dictionary ..." lines), not on every read.
// A dictionary file that exists but does not decode (fully or in part) is moved aside to
// "dictionary.json.bad-<ms>" before the next save, so a damaged dictionary is never
// silently replaced; a missing file is an empty dictionary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context/input_context.h"
#include "learning/mirla_feedback_analysis.h"
#include "learning/mirla_records.h"
#include "learning/term_learning.h"

namespace sorvane {

class Dispatcher;
class SerialQueue;
class TurnMetrics;
struct Paths;

// What the turn controller knows of a delivered turn; `recordTurn` adds the time, the
// durations from the metrics record and the character count, and clips the texts.
struct MirlaTurnRecord {
  std::string id;
  std::string rawText;
  std::string finalText;
  InputContext context;
  std::string mode;
  std::string asrProvider;
  std::string refineProvider;
  std::string status;  // "pasted" or "copy-panel"
  std::optional<std::string> audioPath;
};

class MirlaDataStore {
 public:
  static constexpr std::string_view kQueueLabel = "app.sorvane.mirla.data";
  static constexpr std::string_view kHistoryFileName = "history.jsonl";
  static constexpr std::string_view kFeedbackFileName = "feedback.jsonl";
  static constexpr std::string_view kDictionaryFileName = "dictionary.json";
  // The number of records the dashboard reads from each file.
  static constexpr std::size_t kDashboardRecordLimit = 2000;
  static constexpr std::string_view kManualSource = "manual";
  static constexpr std::string_view kManualFeedbackStatus = "manual-feedback";
  static constexpr double kManualFeedbackConfidence = 0.4;

  // Creates the data folder and its "audio" sub-folder (errors are logged, not fatal).
  // The clock of `dispatcher` stamps every record.
  MirlaDataStore(Dispatcher& dispatcher, const Paths& paths);
  ~MirlaDataStore();
  MirlaDataStore(const MirlaDataStore&) = delete;
  MirlaDataStore& operator=(const MirlaDataStore&) = delete;

  const std::string& supportDirectory() const { return supportDirectory_; }
  const std::string& historyPath() const { return historyPath_; }
  const std::string& feedbackPath() const { return feedbackPath_; }
  const std::string& dictionaryPath() const { return dictionaryPath_; }

  // --- records (each one append) ---
  // Builds the history entry (durations from `metrics`, 0 when a mark is missing; read on
  // the caller's queue, which owns the metrics record) and appends it.
  MirlaHistoryEntry recordTurn(const MirlaTurnRecord& turn, const TurnMetrics& metrics);
  // A sample the user asked to keep: the note becomes the strategy, confidence 0.4,
  // status "manual-feedback".
  MirlaFeedbackEntry recordManualFeedback(std::string_view rawText, std::string_view finalText,
                                          std::string_view editedText, const InputContext& context,
                                          std::string_view note, std::optional<std::string> turnID,
                                          std::optional<std::string> audioPath);

  // --- readers (newest first; at most `limit` records, read from the end of the file) ---
  std::vector<MirlaHistoryEntry> recentHistory(std::size_t limit);
  std::vector<MirlaFeedbackEntry> feedbackEntries(std::size_t limit);

  // --- dictionary ---
  // All terms, most recently updated first (stable for equal times).
  std::vector<MirlaDictionaryTerm> dictionaryTerms();
  // Just the texts, in the same order: what the echo and hallucination guards take.
  std::vector<std::string> dictionaryTermTexts();
  // Cleans the term; nothing when it is not useful. An existing term equal ignoring case
  // is counted up (its text and source kept, a non-empty reason replaces the old one);
  // otherwise a new term is added. The dictionary is saved before returning.
  std::optional<MirlaDictionaryTerm> addDictionaryTerm(std::string_view term, std::string_view source,
                                                       std::optional<std::string> reason = std::nullopt);
  // The cleaned candidates (at most 8) that are not yet terms, ignoring case.
  std::vector<std::string> newDictionaryTerms(std::span<const std::string> candidates);
  // Up to `maxTerms` term texts by count, then most recently updated, joined by ", ".
  std::string dictionaryCorpusText(std::size_t maxTerms);
  std::size_t dictionaryCorpusCount(std::size_t maxTerms);

  // Sums over the last 2000 turns and feedback records and the dictionary, with today's
  // figures by the local calendar day of the system time zone.
  MirlaDashboardStats dashboardStats();

  // --- term learning ---
  // Learns from the user's correction of a pasted text. Nothing when the texts are too
  // short, equal, unrelated (see `isRelatedEdit`) or the edit is an echo of the
  // dictionary; otherwise the terms of `analysis` (none for an insertion-only edit) are
  // added with source "llm-feedback", a feedback record is appended and the result says
  // what was learnt.
  std::optional<LearningResult> learnFromEdit(std::string_view rawText, std::string_view finalText,
                                              std::string_view editedText, const InputContext& context,
                                              std::optional<std::string> turnID,
                                              std::optional<std::string> audioPath, std::string_view trigger,
                                              const std::optional<MirlaFeedbackAnalysis>& analysis);
  // Adds the terms a passive audit suggested and the user accepted (source
  // "llm-passive-confirmed") and appends one feedback record; nothing when none of them
  // is new and useful.
  std::optional<LearningResult> confirmPassiveDictionaryTerms(std::span<const std::string> terms,
                                                              std::string_view rawText, std::string_view finalText,
                                                              const InputContext& context,
                                                              std::optional<std::string> turnID,
                                                              std::optional<std::string> audioPath,
                                                              const MirlaFeedbackAnalysis& analysis);

 private:
  struct LoadedDictionary {
    DictionaryFile file;
    bool damaged = false;  // exists but did not decode (fully): keep it aside before saving
  };
  LoadedDictionary loadDictionaryLocked();
  // Saves `loaded.file`, keeping a damaged file aside first (then `damaged` clears).
  void saveDictionaryLocked(LoadedDictionary& loaded);
  std::optional<MirlaDictionaryTerm> addTermLocked(LoadedDictionary& loaded, std::string_view term,
                                                   std::string_view source, const std::optional<std::string>& reason);
  void appendLocked(std::string_view fileName, const std::string& line);
  template <typename Record, typename Decode>
  std::vector<Record> readLastLocked(std::string_view fileName, std::size_t limit, Decode decode);
  MirlaFeedbackEntry feedbackRecord(std::string_view rawText, std::string_view finalText, std::string_view editedText,
                                    const InputContext& context, std::optional<std::string> turnID,
                                    std::optional<std::string> audioPath) const;
  // Logs `message` unless the same problem (`key`) was logged before and has not cleared.
  void logOnce(const std::string& key, const std::string& message);
  void clearLogged(const std::string& key);

  Dispatcher& dispatcher_;
  SerialQueue& queue_;
  std::string supportDirectory_;
  std::string audioDirectory_;
  std::string historyPath_;
  std::string feedbackPath_;
  std::string dictionaryPath_;
  std::set<std::string> logged_;  // data queue only
};

}  // namespace sorvane
