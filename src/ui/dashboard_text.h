// The dashboard's texts: number, duration and date formats, the blocks of the history,
// dictionary and feedback sections, their empty states and the dictionary form's
// status lines.
//
// The dashboard window (mirla_dashboard_window.h) fills plain-text views with these;
// everything a record carries (dictated text, model output, application names) is shown
// as plain text, never as rich text. Pure functions (ICU for the date format), any queue.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "learning/mirla_records.h"

namespace sorvane {

inline constexpr std::string_view kDashboardWindowTitle = "Mirla";
inline constexpr std::string_view kHistoryBlockSeparator = "\n\n────────────────────────\n\n";
inline constexpr std::string_view kHistoryEmptyText = "还没有历史记录。说完第一句话后，这里会出现原始识别和最终文本。";
inline constexpr std::string_view kDictionaryEmptyText =
    "还没有词典词。你可以手动添加，也可以让 Mirla 从高频词和修改 diff 里自动学习。";
inline constexpr std::string_view kFeedbackEmptyText =
    "还没有反馈样本。后续用户确认修改反馈后，这里会记录原始识别、Mirla 输出和用户修改后的结果。";
inline constexpr std::string_view kDictionaryNeedsTermStatus = "先输入一个词。";
inline constexpr std::string_view kDictionaryRejectedStatus = "这个词太短、太常见或格式不适合加入词典。";
inline constexpr std::string_view kManualTermReason = "用户在 Mirla 面板手动添加";

// 999 -> "999ms", 1000 -> "1.0s", 60000 -> "1.0min".
std::string formatDurationMs(int64_t ms);
// "M月d日 HH:mm" in the zh_CN locale; `timeZoneId` empty means the system zone.
std::string formatDashboardTimestamp(int64_t epochMs, std::string_view timeZoneId = {});
// "1,234" style grouping for the metric cards.
std::string formatCount(int64_t value);

// The history section: newest first, blocks joined by the separator; `feedback` gives
// the user's later edit of a turn (matched by turn id). The empty text when there are none.
std::string historySectionText(std::span<const MirlaHistoryEntry> history,
                               std::span<const MirlaFeedbackEntry> feedback, std::string_view timeZoneId = {});
std::string dictionarySectionText(std::span<const MirlaDictionaryTerm> terms);
std::string feedbackSectionText(std::span<const MirlaFeedbackEntry> feedback, std::string_view timeZoneId = {});
// "已加入：" + term + "。它会进入本机词典，并参与后续热词和表达修正。"
std::string dictionaryAddedStatus(std::string_view term);

}  // namespace sorvane
