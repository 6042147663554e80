#include "learning/mirla_records.h"

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "core/unicode_text.h"

namespace sorvane {
namespace {

constexpr std::string_view kEllipsis = "...";

// --- typed field reads: a record decodes only when every required field is there ---

struct Reader {
  const Json& object;
  bool ok = true;

  std::string text(const char* key) {
    auto value = jsonString(object, key);
    if (!value) ok = false;
    return value.value_or(std::string());
  }
  std::optional<std::string> optionalText(const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) {
      ok = false;
      return std::nullopt;
    }
    return it->get<std::string>();
  }
  int64_t integer(const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) {
      ok = false;
      return 0;
    }
    if (it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) {
      ok = false;
      return 0;
    }
    return it->get<int64_t>();
  }
  double number(const char* key) {
    auto value = jsonNumber(object, key);
    if (!value || !std::isfinite(*value)) ok = false;  // 1e999 parses as infinity
    return value.value_or(0);
  }
};

std::unique_ptr<icu::TimeZone> makeZone(std::string_view id) {
  if (id.empty()) return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createDefault());
  return std::unique_ptr<icu::TimeZone>(
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(icu::StringPiece(id.data(), id.size()))));
}

// A zh_CN calendar and "M/d" formatter in one zone.
class DayLabels {
 public:
  explicit DayLabels(std::string_view zoneId) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale("zh_CN");
    calendar_.reset(icu::Calendar::createInstance(makeZone(zoneId).release(), locale, status));
    if (U_FAILURE(status)) calendar_.reset();
    status = U_ZERO_ERROR;
    format_ = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString("M/d"), locale, status);
    if (U_FAILURE(status)) {
      format_.reset();
    } else if (calendar_) {
      format_->setCalendar(*calendar_);
    }
  }

  int64_t startOfDay(int64_t ms) {
    if (!calendar_) return ms - ((ms % 86'400'000) + 86'400'000) % 86'400'000;
    UErrorCode status = U_ZERO_ERROR;
    calendar_->setTime(static_cast<UDate>(ms), status);
    calendar_->set(UCAL_HOUR_OF_DAY, 0);
    calendar_->set(UCAL_MINUTE, 0);
    calendar_->set(UCAL_SECOND, 0);
    calendar_->set(UCAL_MILLISECOND, 0);
    const UDate start = calendar_->getTime(status);
    return U_SUCCESS(status) ? static_cast<int64_t>(start) : ms;
  }

  // The day start `days` calendar days before the day start `ms` (not 24-hour steps, so
  // a change to or from summer time keeps the labels right).
  int64_t daysBefore(int64_t dayStartMs, int days) {
    if (!calendar_) return dayStartMs - int64_t{days} * 86'400'000;
    UErrorCode status = U_ZERO_ERROR;
    calendar_->setTime(static_cast<UDate>(dayStartMs), status);
    calendar_->add(UCAL_DATE, -days, status);
    const UDate start = calendar_->getTime(status);
    return U_SUCCESS(status) ? static_cast<int64_t>(start) : dayStartMs;
  }

  std::string label(int64_t ms) {
    if (!format_) return {};
    icu::UnicodeString out;
    format_->format(static_cast<UDate>(ms), out);
    return text::toUtf8(out);
  }

 private:
  std::unique_ptr<icu::Calendar> calendar_;
  std::unique_ptr<icu::SimpleDateFormat> format_;
};

// Sums saturate: a damaged record with absurd figures must not overflow the statistics.
int64_t saturatingAdd(int64_t a, int64_t b) {
  int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
  return sum;
}
int64_t saturatingSubtract(int64_t a, int64_t b) {
  int64_t difference;
  if (__builtin_sub_overflow(a, b, &difference)) return b < 0 ? INT64_MAX : INT64_MIN;
  return difference;
}
int64_t saturatingMultiply(int64_t a, int64_t b) {
  int64_t product;
  if (__builtin_mul_overflow(a, b, &product)) return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
  return product;
}

struct Sums {
  int64_t recordingMs = 0;
  int64_t chars = 0;
  int64_t waitMs = 0;
  void add(const MirlaHistoryEntry& entry) {
    recordingMs = saturatingAdd(recordingMs, entry.recordingMs);
    chars = saturatingAdd(chars, entry.finalChars);
    waitMs = saturatingAdd(waitMs, std::max<int64_t>(0, saturatingSubtract(entry.totalMs, entry.recordingMs)));
  }
  int64_t savedMs() const {
    return std::max<int64_t>(0, saturatingSubtract(saturatingMultiply(chars, kTypingMsPerCharacter), waitMs));
  }
};

}  // namespace

std::string clipAroundEllipsis(std::string_view text, std::size_t limit) {
  if (text::graphemeCount(text) <= limit) return std::string(text);
  const std::size_t head = limit / 2;
  const std::size_t tail = limit > head + kEllipsis.size() ? limit - head - kEllipsis.size() : 0;
  return text::graphemePrefix(text, head) + std::string(kEllipsis) + text::graphemeSuffix(text, tail);
}

std::string clipRawText(std::string_view text) { return clipAroundEllipsis(text, kRawTextLimit); }
std::string clipDeliveredText(std::string_view text) { return clipAroundEllipsis(text, kDeliveredTextLimit); }

Json toJson(const MirlaHistoryEntry& e) {
  Json object = {{"id", e.id},
                 {"createdAtMs", e.createdAtMs},
                 {"rawText", e.rawText},
                 {"finalText", e.finalText},
                 {"appName", e.appName},
                 {"bundleIdentifier", e.bundleIdentifier},
                 {"scene", e.scene},
                 {"inputBoxIdentifier", e.inputBoxIdentifier},
                 {"mode", e.mode},
                 {"asrProvider", e.asrProvider},
                 {"refineProvider", e.refineProvider},
                 {"status", e.status},
                 {"recordingMs", e.recordingMs},
                 {"stopToPasteMs", e.stopToPasteMs},
                 {"refineMs", e.refineMs},
                 {"totalMs", e.totalMs},
                 {"finalChars", e.finalChars}};
  setIfPresent(object, "audioPath", e.audioPath);
  return object;
}

Json toJson(const MirlaFeedbackEntry& e) {
  Json object = {{"id", e.id},
                 {"createdAtMs", e.createdAtMs},
                 {"rawText", e.rawText},
                 {"finalText", e.finalText},
                 {"editedText", e.editedText},
                 {"appName", e.appName},
                 {"scene", e.scene},
                 {"learnedTerm", e.learnedTerm},
                 {"strategySuggestion", e.strategySuggestion},
                 {"confidence", e.confidence},
                 {"status", e.status}};
  setIfPresent(object, "turnID", e.turnID);
  setIfPresent(object, "audioPath", e.audioPath);
  setIfPresent(object, "oldSegment", e.oldSegment);
  setIfPresent(object, "newSegment", e.newSegment);
  return object;
}

Json toJson(const MirlaDictionaryTerm& t) {
  Json object = {{"term", t.term},
                 {"source", t.source},
                 {"count", t.count},
                 {"createdAtMs", t.createdAtMs},
                 {"updatedAtMs", t.updatedAtMs}};
  setIfPresent(object, "reason", t.reason);
  return object;
}

Json toJson(const DictionaryFile& file) {
  Json terms = Json::array();
  for (const auto& term : file.terms) terms.push_back(toJson(term));
  Json candidates = Json::object();
  for (const auto& [term, counter] : file.candidates) candidates[term] = counter;
  return Json{{"terms", std::move(terms)}, {"candidates", std::move(candidates)}};
}

std::optional<MirlaHistoryEntry> historyEntryFromJson(const Json& object) {
  if (!object.is_object()) return std::nullopt;
  Reader r{object};
  MirlaHistoryEntry e;
  e.id = r.text("id");
  e.createdAtMs = r.integer("createdAtMs");
  e.rawText = r.text("rawText");
  e.finalText = r.text("finalText");
  e.audioPath = r.optionalText("audioPath");
  e.appName = r.text("appName");
  e.bundleIdentifier = r.text("bundleIdentifier");
  e.scene = r.text("scene");
  e.inputBoxIdentifier = r.text("inputBoxIdentifier");
  e.mode = r.text("mode");
  e.asrProvider = r.text("asrProvider");
  e.refineProvider = r.text("refineProvider");
  e.status = r.text("status");
  e.recordingMs = r.integer("recordingMs");
  e.stopToPasteMs = r.integer("stopToPasteMs");
  e.refineMs = r.integer("refineMs");
  e.totalMs = r.integer("totalMs");
  e.finalChars = r.integer("finalChars");
  if (!r.ok) return std::nullopt;
  return e;
}

std::optional<MirlaFeedbackEntry> feedbackEntryFromJson(const Json& object) {
  if (!object.is_object()) return std::nullopt;
  Reader r{object};
  MirlaFeedbackEntry e;
  e.id = r.text("id");
  e.turnID = r.optionalText("turnID");
  e.createdAtMs = r.integer("createdAtMs");
  e.rawText = r.text("rawText");
  e.finalText = r.text("finalText");
  e.editedText = r.text("editedText");
  e.audioPath = r.optionalText("audioPath");
  e.appName = r.text("appName");
  e.scene = r.text("scene");
  e.oldSegment = r.optionalText("oldSegment");
  e.newSegment = r.optionalText("newSegment");
  e.learnedTerm = r.text("learnedTerm");
  e.strategySuggestion = r.text("strategySuggestion");
  e.confidence = r.number("confidence");
  e.status = r.text("status");
  if (!r.ok) return std::nullopt;
  return e;
}

std::optional<MirlaDictionaryTerm> dictionaryTermFromJson(const Json& object) {
  if (!object.is_object()) return std::nullopt;
  Reader r{object};
  MirlaDictionaryTerm t;
  t.term = r.text("term");
  t.source = r.text("source");
  t.reason = r.optionalText("reason");
  t.count = r.integer("count");
  t.createdAtMs = r.integer("createdAtMs");
  t.updatedAtMs = r.integer("updatedAtMs");
  if (!r.ok) return std::nullopt;
  return t;
}

std::optional<MirlaHistoryEntry> decodeHistoryLine(std::string_view line) {
  auto object = parseJsonObject(line);
  if (!object) return std::nullopt;
  return historyEntryFromJson(*object);
}

std::optional<MirlaFeedbackEntry> decodeFeedbackLine(std::string_view line) {
  auto object = parseJsonObject(line);
  if (!object) return std::nullopt;
  return feedbackEntryFromJson(*object);
}

DictionaryDecoding decodeDictionaryFile(std::string_view text) {
  DictionaryDecoding result;
  auto object = parseJsonObject(text);
  if (!object) {
    result.damaged = true;
    return result;
  }
  auto terms = object->find("terms");
  auto candidates = object->find("candidates");
  if (terms == object->end() || !terms->is_array() || candidates == object->end() || !candidates->is_object()) {
    result.damaged = true;
  }
  if (terms != object->end() && terms->is_array()) {
    for (const Json& item : *terms) {
      if (auto term = dictionaryTermFromJson(item)) {
        result.file.terms.push_back(std::move(*term));
      } else {
        result.damaged = true;
      }
    }
  }
  if (candidates != object->end() && candidates->is_object()) {
    for (auto it = candidates->begin(); it != candidates->end(); ++it) {
      if (it->is_number_integer() && !(it->is_number_unsigned() && it->get<uint64_t>() > INT64_MAX)) {
        result.file.candidates[it.key()] = it->get<int64_t>();
      } else {
        result.damaged = true;
      }
    }
  }
  return result;
}

int64_t startOfLocalDay(int64_t nowMs, std::string_view timeZoneId) {
  return DayLabels(timeZoneId).startOfDay(nowMs);
}

std::vector<std::pair<std::string, int64_t>> dailyCharacterBuckets(std::span<const MirlaHistoryEntry> history,
                                                                   int64_t nowMs, std::string_view timeZoneId) {
  DayLabels labels(timeZoneId);
  const int64_t today = labels.startOfDay(nowMs);
  std::vector<std::pair<std::string, int64_t>> buckets;
  buckets.reserve(7);
  for (int d = 6; d >= 0; --d) buckets.emplace_back(labels.label(labels.daysBefore(today, d)), 0);
  for (const auto& entry : history) {
    const std::string label = labels.label(entry.createdAtMs);
    for (auto& bucket : buckets) {
      if (bucket.first == label) {
        bucket.second = saturatingAdd(bucket.second, entry.finalChars);
        break;
      }
    }
  }
  return buckets;
}

MirlaDashboardStats computeDashboardStats(std::span<const MirlaHistoryEntry> history, int64_t feedbackCount,
                                          int64_t dictionaryCount, int64_t nowMs, std::string_view timeZoneId) {
  const int64_t today = startOfLocalDay(nowMs, timeZoneId);
  Sums all;
  Sums todays;
  for (const auto& entry : history) {
    all.add(entry);
    if (entry.createdAtMs >= today) todays.add(entry);
  }
  MirlaDashboardStats stats;
  stats.turnCount = static_cast<int64_t>(history.size());
  stats.totalRecordingMs = all.recordingMs;
  stats.totalChars = all.chars;
  stats.estimatedSavedMs = all.savedMs();
  stats.todayRecordingMs = todays.recordingMs;
  stats.todayChars = todays.chars;
  stats.todaySavedMs = todays.savedMs();
  stats.dictionaryCount = dictionaryCount;
  stats.feedbackCount = feedbackCount;
  stats.dailyChars = dailyCharacterBuckets(history, nowMs, timeZoneId);
  return stats;
}

}  // namespace sorvane
