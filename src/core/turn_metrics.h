// The metrics record of one dictation turn: named marks (wall milliseconds) and named
// values, written as one JSON line to "turns.jsonl" in the metrics folder when the turn
// finishes, with the durations between well-known marks derived at that moment.
//
// Lives on the main queue from a turn's start request until the turn ends; marks and
// values from other queues are re-dispatched to the main queue by their owners.
// Values are limited to text, integers, reals and booleans so every record serialises.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/private_files.h"

namespace sorvane {

class Clock;

class TurnMetrics {
 public:
  TurnMetrics(const Clock& clock, std::string metricsFolder);
  // For tests and replays: a fixed id.
  TurnMetrics(const Clock& clock, std::string metricsFolder, std::string id);

  const std::string& id() const { return id_; }
  int64_t startedAtMs() const { return startedAtMs_; }
  const std::map<std::string, int64_t>& marks() const { return marks_; }
  const Json& values() const { return values_; }

  void mark(std::string_view name);
  void setValue(std::string_view key, Json value);
  // An integer value (a real is truncated toward zero); anything else gives none.
  std::optional<int64_t> intValue(std::string_view key) const;
  // later - earlier when both marks exist and the later is not before the earlier.
  std::optional<int64_t> durationValue(std::string_view earlier, std::string_view later) const;
  // The derived durations of the record ("startupMs", "totalMs", ...).
  Json derivedDurations() const;
  // The record as written: exactly createdAtMs, durationsMs, id, marks, values.
  Json record() const;

  // Marks "metricsWritten", stores the status word and appends the record. Logs
  // "metrics wrote <path>" or "metrics write failed <reason>"; returns whether written.
  bool finish(std::string_view status);

  static constexpr std::string_view kFileName = "turns.jsonl";

 private:
  const Clock& clock_;
  std::string metricsFolder_;
  std::string id_;
  int64_t startedAtMs_;
  std::map<std::string, int64_t> marks_;
  Json values_ = Json::object();
};

}  // namespace sorvane
