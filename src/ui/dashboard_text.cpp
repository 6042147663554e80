#include "ui/dashboard_text.h"

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>

#include "core/unicode_text.h"

namespace sorvane {
namespace {

std::string oneDecimal(double value, const char* unit) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.1f%s", value, unit);
  return buffer;
}

std::string orDash(std::string_view value) { return value.empty() ? std::string("-") : std::string(value); }

}  // namespace

std::string formatDurationMs(int64_t ms) {
  if (ms <= 999) return std::to_string(ms) + "ms";
  if (ms < 60000) return oneDecimal(static_cast<double>(ms) / 1000.0, "s");
  return oneDecimal(static_cast<double>(ms) / 60000.0, "min");
}

std::string formatDashboardTimestamp(int64_t epochMs, std::string_view timeZoneId) {
  UErrorCode status = U_ZERO_ERROR;
  icu::SimpleDateFormat format(icu::UnicodeString::fromUTF8("M月d日 HH:mm"), icu::Locale("zh_CN"), status);
  if (U_FAILURE(status)) return {};
  if (!timeZoneId.empty()) {
    format.adoptTimeZone(icu::TimeZone::createTimeZone(text::toUnicode(timeZoneId)));
  }
  icu::UnicodeString out;
  format.format(static_cast<UDate>(epochMs), out);
  return text::toUtf8(out);
}

std::string formatCount(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return value < 0 ? "-" + grouped : grouped;
}

std::string historySectionText(std::span<const MirlaHistoryEntry> history,
                               std::span<const MirlaFeedbackEntry> feedback, std::string_view timeZoneId) {
  if (history.empty()) return std::string(kHistoryEmptyText);
  // The newest edit of each turn (feedback is newest first).
  std::map<std::string, std::string, std::less<>> edits;
  for (const MirlaFeedbackEntry& entry : feedback) {
    if (entry.turnID && !entry.editedText.empty() && entry.editedText != entry.finalText) {
      edits.emplace(*entry.turnID, entry.editedText);
    }
  }
  std::vector<std::string> blocks;
  blocks.reserve(history.size());
  for (const MirlaHistoryEntry& entry : history) {
    std::string block = formatDashboardTimestamp(entry.createdAtMs, timeZoneId) + " · " + orDash(entry.appName) +
                        " · " + orDash(entry.mode) + "\n";
    block += "识别：" + orDash(entry.asrProvider) + " · 整理：" + orDash(entry.refineProvider) + " · " +
             orDash(entry.status) + "\n";
    block += "耗时：录音 " + formatDurationMs(entry.recordingMs) + " · 停止到粘贴 " +
             formatDurationMs(entry.stopToPasteMs) + " · 整理 " + formatDurationMs(entry.refineMs) + " · 总计 " +
             formatDurationMs(entry.totalMs) + "\n";
    block += "原始识别：" + entry.rawText + "\n";
    block += "结果：" + entry.finalText;
    if (auto it = edits.find(entry.id); it != edits.end()) block += "\n用户最终修改：" + it->second;
    if (entry.audioPath && !entry.audioPath->empty()) block += "\n音频已保存：" + *entry.audioPath;
    blocks.push_back(std::move(block));
  }
  return text::join(blocks, kHistoryBlockSeparator);
}

std::string dictionarySectionText(std::span<const MirlaDictionaryTerm> terms) {
  if (terms.empty()) return std::string(kDictionaryEmptyText);
  std::vector<std::string> lines;
  lines.reserve(terms.size());
  for (const MirlaDictionaryTerm& term : terms) {
    std::string line = term.term + "  ×" + std::to_string(term.count) + " · " + orDash(term.source);
    if (term.reason && !term.reason->empty()) line += " · " + *term.reason;
    lines.push_back(std::move(line));
  }
  return text::join(lines, "\n");
}

std::string feedbackSectionText(std::span<const MirlaFeedbackEntry> feedback, std::string_view timeZoneId) {
  if (feedback.empty()) return std::string(kFeedbackEmptyText);
  std::vector<std::string> blocks;
  blocks.reserve(feedback.size());
  for (const MirlaFeedbackEntry& entry : feedback) {
    std::string block = formatDashboardTimestamp(entry.createdAtMs, timeZoneId) + " · " + orDash(entry.appName) +
                        " · " + orDash(entry.status) + "\n";
    block += "原始识别：" + entry.rawText + "\n";
    block += "Mirla 输出：" + entry.finalText + "\n";
    block += "用户修改：" + entry.editedText;
    if (entry.oldSegment || entry.newSegment) {
      block += "\nDiff：" + entry.oldSegment.value_or("") + " → " + entry.newSegment.value_or("");
    }
    if (!entry.learnedTerm.empty()) block += "\n学到：" + entry.learnedTerm;
    if (!entry.strategySuggestion.empty()) block += "\n建议：" + entry.strategySuggestion;
    blocks.push_back(std::move(block));
  }
  return text::join(blocks, kHistoryBlockSeparator);
}

std::string dictionaryAddedStatus(std::string_view term) {
  return "已加入：" + std::string(term) + "。它会进入本机词典，并参与后续热词和表达修正。";
}

}  // namespace sorvane
