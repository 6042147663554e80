#include "learning/mirla_data_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/atomic_file.h"
#include "core/clock.h"
#include "core/dispatch.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/private_files.h"
#include "core/turn_metrics.h"
#include "core/unicode_text.h"
#include "core/uuid.h"
#include "learning/tail_reader.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {
namespace {

constexpr std::string_view kTermSeparator = ", ";
// Temporary files of an interrupted save older than this are swept at the next save.
constexpr int64_t kStaleTemporaryMs = 60'000;

std::optional<std::string> readWholeFile(const std::string& path, bool& missing) {
  missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    missing = errno == ENOENT;
    return std::nullopt;
  }
  std::string content;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return std::nullopt;
  }
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return text::toLower(a) == text::toLower(b); }

std::vector<std::string> termTexts(const std::vector<MirlaDictionaryTerm>& terms) {
  std::vector<std::string> texts;
  texts.reserve(terms.size());
  for (const auto& term : terms) texts.push_back(term.term);
  return texts;
}

std::vector<MirlaDictionaryTerm> newestFirst(std::vector<MirlaDictionaryTerm> terms) {
  std::stable_sort(terms.begin(), terms.end(),
                   [](const auto& a, const auto& b) { return a.updatedAtMs > b.updatedAtMs; });
  return terms;
}

void addUnique(std::vector<std::string>& list, const std::string& term) {
  for (const auto& existing : list) {
    if (equalsIgnoringCase(existing, term)) return;
  }
  list.push_back(term);
}

std::optional<std::string> nonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

MirlaDataStore::MirlaDataStore(Dispatcher& dispatcher, const Paths& paths)
    : dispatcher_(dispatcher),
      queue_(dispatcher.queue(kQueueLabel)),
      supportDirectory_(paths.dataFolder),
      audioDirectory_(paths.audioFolder),
      historyPath_(paths.dataFolder + "/" + std::string(kHistoryFileName)),
      feedbackPath_(paths.dataFolder + "/" + std::string(kFeedbackFileName)),
      dictionaryPath_(paths.dataFolder + "/" + std::string(kDictionaryFileName)) {
  queue_.runSync([this] {
    for (const std::string* folder : {&supportDirectory_, &audioDirectory_}) {
      if (auto error = ensurePrivateFolder(*folder)) logOnce("folder " + *folder, "mirla data folder failed " + *error);
    }
  });
}

MirlaDataStore::~MirlaDataStore() = default;

// --- logging ---

void MirlaDataStore::logOnce(const std::string& key, const std::string& message) {
  if (logged_.insert(key).second) appLog(message);
}

void MirlaDataStore::clearLogged(const std::string& key) { logged_.erase(key); }

// --- files ---

void MirlaDataStore::appendLocked(std::string_view fileName, const std::string& line) {
  if (auto error = appendLineToFile(supportDirectory_, std::string(fileName), line)) {
    appLog("mirla data append failed " + std::string(fileName) + " " + *error);
  }
}

template <typename Record, typename Decode>
std::vector<Record> MirlaDataStore::readLastLocked(std::string_view fileName, std::size_t limit, Decode decode) {
  const std::string name(fileName);
  TailLines tail = readLastLines(supportDirectory_ + "/" + name, limit);
  const std::string unreadableKey = "unreadable " + name;
  if (tail.error) {
    logOnce(unreadableKey, "mirla data read failed " + name + " " + *tail.error);
  } else {
    clearLogged(unreadableKey);
  }
  std::vector<Record> records;
  records.reserve(tail.lines.size());
  std::size_t newlySkipped = 0;
  uint64_t firstOffset = 0;
  for (auto& line : tail.lines) {
    std::optional<Record> record;
    if (!line.oversized) record = decode(line.text);
    if (record) {
      records.push_back(std::move(*record));
      continue;
    }
    // Each bad line is reported once, however often the file is read.
    if (logged_.insert("line " + name + "@" + std::to_string(line.offset)).second) {
      if (newlySkipped++ == 0) firstOffset = line.offset;
    }
  }
  if (newlySkipped > 0) {
    appLog("mirla data skipped undecodable lines file=" + name + " count=" + std::to_string(newlySkipped) +
           " offset=" + std::to_string(firstOffset));
  }
  return records;
}

MirlaDataStore::LoadedDictionary MirlaDataStore::loadDictionaryLocked() {
  LoadedDictionary loaded;
  bool missing = false;
  auto content = readWholeFile(dictionaryPath_, missing);
  const std::string key = "dictionary damaged";
  if (!content) {
    if (missing) {
      clearLogged(key);
      return loaded;
    }
    loaded.damaged = true;
    logOnce(key, "dictionary file unreadable " + std::string(std::strerror(errno)) +
                     "; it will be kept aside at the next save path=" + dictionaryPath_);
    return loaded;
  }
  DictionaryDecoding decoding = decodeDictionaryFile(*content);
  loaded.file = std::move(decoding.file);
  loaded.damaged = decoding.damaged;
  if (loaded.damaged) {
    logOnce(key, "dictionary file damaged terms=" + std::to_string(loaded.file.terms.size()) +
                     "; it will be kept aside at the next save path=" + dictionaryPath_);
  } else {
    clearLogged(key);
  }
  return loaded;
}

void MirlaDataStore::saveDictionaryLocked(LoadedDictionary& loaded) {
  if (auto error = ensurePrivateFolder(supportDirectory_)) {
    appLog("dictionary save failed " + *error);
    return;
  }
  const int64_t now = dispatcher_.clock().wallMilliseconds();
  if (loaded.damaged) {
    const std::string backup = dictionaryPath_ + ".bad-" + std::to_string(now);
    if (::rename(dictionaryPath_.c_str(), backup.c_str()) != 0 && errno != ENOENT) {
      // Without the backup the save would replace the only copy of the old dictionary.
      appLog("dictionary save failed cannot keep damaged file " + backup + ": " + std::strerror(errno));
      return;
    }
    appLog("dictionary damaged file kept path=" + backup);
    clearLogged("dictionary damaged");
    loaded.damaged = false;
  }
  // Sweep temporary files that an interrupted save left behind.
  const std::string prefix = std::string(kDictionaryFileName) + ".";
  if (DIR* folder = ::opendir(supportDirectory_.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string name = entry->d_name;
      if (name.size() != prefix.size() + 6 || !text::startsWith(name, prefix)) continue;
      const std::string path = supportDirectory_ + "/" + name;
      struct stat info {};
      if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
          now - static_cast<int64_t>(info.st_mtime) * 1000 > kStaleTemporaryMs) {
        ::unlink(path.c_str());
      }
    }
    ::closedir(folder);
  }
  const std::string bytes = toJsonLine(toJson(loaded.file));
  const std::string error = writeFileAtomically(dictionaryPath_, bytes);
  if (!error.empty()) appLog("dictionary save failed " + error);
}

std::optional<MirlaDictionaryTerm> MirlaDataStore::addTermLocked(LoadedDictionary& loaded, std::string_view term,
                                                                 std::string_view source,
                                                                 const std::optional<std::string>& reason) {
  const std::string cleaned = cleanTerm(term);
  if (!isUsefulTerm(cleaned)) return std::nullopt;
  const int64_t now = dispatcher_.clock().wallMilliseconds();
  DictionaryFile& file = loaded.file;
  for (auto& existing : file.terms) {
    if (!equalsIgnoringCase(existing.term, cleaned)) continue;
    existing.count = existing.count < INT64_MAX ? existing.count + 1 : existing.count;
    existing.updatedAtMs = now;
    if (reason && !reason->empty()) existing.reason = reason;
    MirlaDictionaryTerm result = existing;
    saveDictionaryLocked(loaded);
    return result;
  }
  MirlaDictionaryTerm added{cleaned, std::string(source), reason && !reason->empty() ? reason : std::nullopt, 1, now,
                            now};
  file.terms.push_back(added);
  int64_t& counter = file.candidates[cleaned];
  counter = std::max<int64_t>(counter, 1);
  saveDictionaryLocked(loaded);
  appLog("dictionary term added term=" + cleaned + " source=" + std::string(source));
  return added;
}

MirlaFeedbackEntry MirlaDataStore::feedbackRecord(std::string_view rawText, std::string_view finalText,
                                                  std::string_view editedText, const InputContext& context,
                                                  std::optional<std::string> turnID,
                                                  std::optional<std::string> audioPath) const {
  MirlaFeedbackEntry entry;
  entry.id = makeUuid();
  entry.turnID = std::move(turnID);
  entry.createdAtMs = dispatcher_.clock().wallMilliseconds();
  entry.rawText = clipRawText(rawText);
  entry.finalText = clipDeliveredText(finalText);
  entry.editedText = clipDeliveredText(editedText);
  entry.audioPath = std::move(audioPath);
  entry.appName = context.appName;
  entry.scene = std::string(context.scene());
  return entry;
}

// --- records ---

MirlaHistoryEntry MirlaDataStore::recordTurn(const MirlaTurnRecord& turn, const TurnMetrics& metrics) {
  MirlaHistoryEntry entry;
  entry.id = turn.id;
  entry.createdAtMs = dispatcher_.clock().wallMilliseconds();
  entry.rawText = clipRawText(turn.rawText);
  entry.finalText = clipDeliveredText(turn.finalText);
  entry.audioPath = turn.audioPath;
  entry.appName = turn.context.appName;
  entry.bundleIdentifier = turn.context.bundleIdentifier;
  entry.scene = std::string(turn.context.scene());
  entry.inputBoxIdentifier = turn.context.inputBoxIdentifier();
  entry.mode = turn.mode;
  entry.asrProvider = turn.asrProvider;
  entry.refineProvider = turn.refineProvider;
  entry.status = turn.status;
  entry.recordingMs = metrics.durationValue("recordingShown", "stopRequested").value_or(0);
  entry.stopToPasteMs = metrics.durationValue("stopRequested", "pasteDone").value_or(0);
  entry.refineMs = metrics.durationValue("refineStart", "refineDone").value_or(0);
  entry.totalMs = metrics.durationValue("created", "pasteDone").value_or(0);
  entry.finalChars = static_cast<int64_t>(text::graphemeCount(turn.finalText));
  const std::string line = encodeRecordLine(entry);
  queue_.runSync([&] { appendLocked(kHistoryFileName, line); });
  return entry;
}

MirlaFeedbackEntry MirlaDataStore::recordManualFeedback(std::string_view rawText, std::string_view finalText,
                                                        std::string_view editedText, const InputContext& context,
                                                        std::string_view note, std::optional<std::string> turnID,
                                                        std::optional<std::string> audioPath) {
  MirlaFeedbackEntry entry =
      feedbackRecord(rawText, finalText, editedText, context, std::move(turnID), std::move(audioPath));
  entry.learnedTerm.clear();
  entry.strategySuggestion = std::string(note);
  entry.confidence = kManualFeedbackConfidence;
  entry.status = std::string(kManualFeedbackStatus);
  const std::string line = encodeRecordLine(entry);
  queue_.runSync([&] { appendLocked(kFeedbackFileName, line); });
  return entry;
}

std::vector<MirlaHistoryEntry> MirlaDataStore::recentHistory(std::size_t limit) {
  std::vector<MirlaHistoryEntry> entries;
  queue_.runSync([&] { entries = readLastLocked<MirlaHistoryEntry>(kHistoryFileName, limit, decodeHistoryLine); });
  std::reverse(entries.begin(), entries.end());
  return entries;
}

std::vector<MirlaFeedbackEntry> MirlaDataStore::feedbackEntries(std::size_t limit) {
  std::vector<MirlaFeedbackEntry> entries;
  queue_.runSync([&] { entries = readLastLocked<MirlaFeedbackEntry>(kFeedbackFileName, limit, decodeFeedbackLine); });
  std::reverse(entries.begin(), entries.end());
  return entries;
}

// --- dictionary ---

std::vector<MirlaDictionaryTerm> MirlaDataStore::dictionaryTerms() {
  std::vector<MirlaDictionaryTerm> terms;
  queue_.runSync([&] { terms = loadDictionaryLocked().file.terms; });
  return newestFirst(std::move(terms));
}

std::vector<std::string> MirlaDataStore::dictionaryTermTexts() { return termTexts(dictionaryTerms()); }

std::optional<MirlaDictionaryTerm> MirlaDataStore::addDictionaryTerm(std::string_view term, std::string_view source,
                                                                     std::optional<std::string> reason) {
  if (!isUsefulTerm(cleanTerm(term))) return std::nullopt;
  std::optional<MirlaDictionaryTerm> result;
  queue_.runSync([&] {
    LoadedDictionary loaded = loadDictionaryLocked();
    result = addTermLocked(loaded, term, source, reason);
  });
  return result;
}

std::vector<std::string> MirlaDataStore::newDictionaryTerms(std::span<const std::string> candidates) {
  std::vector<MirlaDictionaryTerm> terms;
  queue_.runSync([&] { terms = loadDictionaryLocked().file.terms; });
  std::vector<std::string> fresh;
  for (auto& candidate : cleanDictionaryTerms(candidates)) {
    const bool known = std::any_of(terms.begin(), terms.end(),
                                   [&](const MirlaDictionaryTerm& t) { return equalsIgnoringCase(t.term, candidate); });
    if (!known) fresh.push_back(std::move(candidate));
  }
  return fresh;
}

std::string MirlaDataStore::dictionaryCorpusText(std::size_t maxTerms) {
  if (maxTerms == 0) return {};
  std::vector<MirlaDictionaryTerm> terms;
  queue_.runSync([&] { terms = loadDictionaryLocked().file.terms; });
  std::stable_sort(terms.begin(), terms.end(), [](const auto& a, const auto& b) {
    return a.count != b.count ? a.count > b.count : a.updatedAtMs > b.updatedAtMs;
  });
  if (terms.size() > maxTerms) terms.resize(maxTerms);
  const std::vector<std::string> texts = termTexts(terms);
  return text::join(texts, kTermSeparator);
}

std::size_t MirlaDataStore::dictionaryCorpusCount(std::size_t maxTerms) {
  std::size_t count = 0;
  queue_.runSync([&] { count = loadDictionaryLocked().file.terms.size(); });
  return std::min(count, maxTerms);
}

MirlaDashboardStats MirlaDataStore::dashboardStats() {
  MirlaDashboardStats stats;
  queue_.runSync([&] {
    const auto history = readLastLocked<MirlaHistoryEntry>(kHistoryFileName, kDashboardRecordLimit, decodeHistoryLine);
    const auto feedback =
        readLastLocked<MirlaFeedbackEntry>(kFeedbackFileName, kDashboardRecordLimit, decodeFeedbackLine);
    const auto dictionary = loadDictionaryLocked();
    stats = computeDashboardStats(history, static_cast<int64_t>(feedback.size()),
                                  static_cast<int64_t>(dictionary.file.terms.size()),
                                  dispatcher_.clock().wallMilliseconds());
  });
  return stats;
}

// --- term learning ---

std::optional<LearningResult> MirlaDataStore::learnFromEdit(std::string_view rawText, std::string_view finalText,
                                                            std::string_view editedText, const InputContext& context,
                                                            std::optional<std::string> turnID,
                                                            std::optional<std::string> audioPath,
                                                            std::string_view trigger,
                                                            const std::optional<MirlaFeedbackAnalysis>& analysis) {
  const std::string final = text::trim(finalText);
  const std::string edited = text::trim(editedText);
  if (text::graphemeCount(final) < 2 || text::graphemeCount(edited) < 2 || final == edited) return std::nullopt;
  if (!isRelatedEdit(final, edited)) return std::nullopt;
  const std::string turnLabel = turnID.value_or("none");

  std::optional<LearningResult> result;
  queue_.runSync([&] {
    LoadedDictionary loaded = loadDictionaryLocked();
    if (TextNormalizer::isPersonalDictionaryEcho(edited, termTexts(loaded.file.terms))) {
      appLog("edit learning ignored personal dictionary echo turn=" + turnLabel);
      return;
    }
    const SegmentChange change = changedSegment(final, edited);
    const bool insertionOnly = isInsertionOnly(change);
    std::vector<std::string> candidates;
    if (insertionOnly) {
      appLog("edit learning treated as insertion-only turn=" + turnLabel);
    } else if (analysis) {
      candidates = cleanDictionaryTerms(analysis->dictionaryTerms);
    }
    const std::string reason = editReason(change.oldSegment, change.newSegment, rawText);
    const std::string termReason = analysis && !analysisReason(*analysis).empty() ? analysisReason(*analysis) : reason;

    std::vector<std::string> learned;
    for (const auto& candidate : candidates) {
      if (auto term = addTermLocked(loaded, candidate, kSourceLlmFeedback, termReason)) addUnique(learned, term->term);
    }
    const std::string learnedText = text::join(learned, kTermSeparator);

    std::string strategy;
    std::string status;
    double confidence;
    if (analysis) {
      std::vector<std::string> parts;
      const std::string suggestion = analysis->suggestionText();
      parts.push_back(suggestion.empty() ? std::string("Mirla 已分析这次修改。") : "Mirla 分析：" + suggestion);
      if (insertionOnly) parts.emplace_back("本次修改是纯新增内容，不作为 ASR 纠错加词。");
      if (!learned.empty()) parts.push_back("已加入词典：" + learnedText);
      strategy = productFacingCopy(text::join(parts, "；"));
      status = std::string(learned.empty() ? kStatusCapturedFeedback : kStatusLearnedTerms);
      confidence = analysis->confidence;
    } else {
      strategy = "用户修改了 Mirla 输出，但本次没有可用的 Mirla 分析；仅记录样本，不加入词典。";
      status = std::string(kStatusNoLlm);
      confidence = 0.46;
    }

    MirlaFeedbackEntry entry = feedbackRecord(rawText, final, edited, context, turnID, audioPath);
    entry.oldSegment = change.oldSegment;
    entry.newSegment = change.newSegment;
    entry.learnedTerm = learnedText;
    entry.strategySuggestion = strategy + " 触发：" + std::string(trigger) + "。原因：" + reason;
    entry.confidence = confidence;
    entry.status = status;
    appendLocked(kFeedbackFileName, encodeRecordLine(entry));

    const std::string message = learned.empty() ? std::string("已记录这次修改，后续可作为策略优化样本。")
                                                : "检测到可能识别错误，已加入词典：" + learnedText;
    result = LearningResult{learnedText, message, confidence};
  });
  return result;
}

std::optional<LearningResult> MirlaDataStore::confirmPassiveDictionaryTerms(
    std::span<const std::string> terms, std::string_view rawText, std::string_view finalText,
    const InputContext& context, std::optional<std::string> turnID, std::optional<std::string> audioPath,
    const MirlaFeedbackAnalysis& analysis) {
  std::optional<LearningResult> result;
  queue_.runSync([&] {
    LoadedDictionary loaded = loadDictionaryLocked();
    std::vector<std::string> fresh;
    for (auto& candidate : cleanDictionaryTerms(terms)) {
      const bool known = std::any_of(loaded.file.terms.begin(), loaded.file.terms.end(),
                                     [&](const MirlaDictionaryTerm& t) { return equalsIgnoringCase(t.term, candidate); });
      if (!known) fresh.push_back(std::move(candidate));
    }
    if (fresh.empty()) return;
    const std::optional<std::string> reason = nonEmpty(analysisReason(analysis));
    std::vector<std::string> learned;
    for (const auto& term : fresh) {
      if (auto added = addTermLocked(loaded, term, kSourceLlmPassiveConfirmed, reason)) addUnique(learned, added->term);
    }
    if (learned.empty()) return;
    const std::string learnedText = text::join(learned, kTermSeparator);
    MirlaFeedbackEntry entry = feedbackRecord(rawText, finalText, finalText, context, turnID, audioPath);
    entry.newSegment = learnedText;
    entry.learnedTerm = learnedText;
    entry.strategySuggestion = productFacingCopy("Mirla 建议加入词典，用户已确认。" + analysis.suggestionText());
    entry.confidence = analysis.confidence;
    entry.status = std::string(kStatusPassiveConfirmed);
    appendLocked(kFeedbackFileName, encodeRecordLine(entry));
    result = LearningResult{learnedText, "已加入词典：" + learnedText, analysis.confidence};
  });
  return result;
}

}  // namespace sorvane
