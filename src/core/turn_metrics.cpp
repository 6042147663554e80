#include "core/turn_metrics.h"

#include <array>

#include "core/clock.h"
#include "core/log.h"
#include "core/uuid.h"

namespace sorvane {
namespace {

struct DurationRule {
  std::string_view key;
  std::string_view later;
  std::string_view earlier;
};

constexpr std::array<DurationRule, 19> kDurationRules{{
    {"startupMs", "recordingShown", "startRequested"},
    {"contextCollectMs", "contextCollected", "contextCollectStart"},
    {"speechStartMs", "speechStarted", "startRequested"},
    {"recordingMs", "stopRequested", "recordingShown"},
    {"processingOverlayMs", "processingShown", "stopRequested"},
    {"speechFinalizeMs", "speechStopped", "stopRequested"},
    {"tailCaptureActualMs", "tailCaptureDone", "tailCaptureStart"},
    {"cutoffDrainMs", "cutoffDrainDone", "cutoffDrainStart"},
    {"audioStopMs", "audioStopDone", "audioStopStart"},
    {"asrFinalizeMs", "asrFinalizeDone", "asrFinalizeStart"},
    {"qwenFinishMs", "qwenFinishComplete", "qwenFinishStart"},
    {"qwenCutoffFlushMs", "qwenCutoffFlushDone", "qwenCutoffFlushStart"},
    {"qwenCommitWaitActualMs", "qwenCommitSent", "qwenFinishStart"},
    {"qwenFinalEventWaitMs", "qwenFinalEventReceived", "qwenCommitSent"},
    {"llmNetworkMs", "llmRequestDone", "llmRequestStart"},
    {"refineMs", "refineDone", "refineStart"},
    {"pasteMs", "pasteDone", "pasteStart"},
    {"stopToPasteMs", "pasteDone", "stopRequested"},
    {"totalMs", "pasteDone", "created"},
}};

}  // namespace

TurnMetrics::TurnMetrics(const Clock& clock, std::string metricsFolder)
    : TurnMetrics(clock, std::move(metricsFolder), makeUuid()) {}

TurnMetrics::TurnMetrics(const Clock& clock, std::string metricsFolder, std::string id)
    : clock_(clock),
      metricsFolder_(std::move(metricsFolder)),
      id_(std::move(id)),
      startedAtMs_(clock.wallMilliseconds()) {
  marks_["created"] = startedAtMs_;
}

void TurnMetrics::mark(std::string_view name) { marks_[std::string(name)] = clock_.wallMilliseconds(); }

void TurnMetrics::setValue(std::string_view key, Json value) { values_[std::string(key)] = std::move(value); }

std::optional<int64_t> TurnMetrics::intValue(std::string_view key) const {
  auto it = values_.find(std::string(key));
  if (it == values_.end()) return std::nullopt;
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_number_float()) {
    double value = it->get<double>();
    if (!(value > -9.2e18 && value < 9.2e18)) return std::nullopt;  // NaN or out of range
    return static_cast<int64_t>(value);
  }
  return std::nullopt;
}

std::optional<int64_t> TurnMetrics::durationValue(std::string_view earlier, std::string_view later) const {
  auto from = marks_.find(std::string(earlier));
  auto to = marks_.find(std::string(later));
  if (from == marks_.end() || to == marks_.end() || to->second < from->second) return std::nullopt;
  return to->second - from->second;
}

Json TurnMetrics::derivedDurations() const {
  Json durations = Json::object();
  for (const DurationRule& rule : kDurationRules) {
    if (auto value = durationValue(rule.earlier, rule.later)) durations[std::string(rule.key)] = *value;
  }
  return durations;
}

Json TurnMetrics::record() const {
  Json marks = Json::object();
  for (const auto& [name, time] : marks_) marks[name] = time;
  return Json{{"createdAtMs", startedAtMs_},
              {"durationsMs", derivedDurations()},
              {"id", id_},
              {"marks", marks},
              {"values", values_}};
}

bool TurnMetrics::finish(std::string_view status) {
  mark("metricsWritten");
  setValue("status", std::string(status));
  std::string line;
  try {
    line = toJsonLine(record());
  } catch (const std::exception& error) {
    appLog(std::string("metrics write failed ") + error.what());
    return false;
  }
  if (auto error = appendLineToFile(metricsFolder_, std::string(kFileName), line)) {
    appLog("metrics write failed " + *error);
    return false;
  }
  appLog("metrics wrote " + metricsFolder_ + "/" + std::string(kFileName));
  return true;
}

}  // namespace sorvane
