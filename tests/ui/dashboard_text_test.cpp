#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/unicode_text.h"
#include "ui/dashboard_text.h"

namespace sorvane {
namespace {

TEST(DashboardText, DurationsAndTimestamps) {
  struct Row {
    int64_t ms;
    const char* text;
  };
  const Row rows[] = {{0, "0ms"},        {999, "999ms"},   {1000, "1.0s"},   {1049, "1.0s"},
                      {59949, "59.9s"},  {60000, "1.0min"}, {90000, "1.5min"}, {-20, "-20ms"}};
  for (const Row& row : rows) EXPECT_EQ(formatDurationMs(row.ms), row.text) << row.ms;
  // 2025-12-06 02:45:11 UTC is 10:45 in Shanghai; single-digit month and day.
  EXPECT_EQ(formatDashboardTimestamp(1764989111000, "Asia/Shanghai"), "12月6日 10:45");
  EXPECT_EQ(formatDashboardTimestamp(1735689600000, "UTC"), "1月1日 00:00");
  EXPECT_EQ(formatCount(1234567), "1,234,567");
  EXPECT_EQ(formatCount(999), "999");
}

TEST(DashboardText, EmptyStates) {
  EXPECT_EQ(historySectionText({}, {}), "还没有历史记录。说完第一句话后，这里会出现原始识别和最终文本。");
  EXPECT_EQ(dictionarySectionText({}),
            "还没有词典词。你可以手动添加，也可以让 Mirla 从高频词和修改 diff 里自动学习。");
  EXPECT_EQ(feedbackSectionText({}),
            "还没有反馈样本。后续用户确认修改反馈后，这里会记录原始识别、Mirla 输出和用户修改后的结果。");
}

TEST(DashboardText, HistoryBlocksWithEditAndAudio) {
  MirlaHistoryEntry first;
  first.id = "T1";
  first.createdAtMs = 1764989111000;
  first.appName = "gedit";
  first.mode = "dictation";
  first.asrProvider = "qwen3-asr-flash-realtime";
  first.refineProvider = "deepseek-direct";
  first.status = "pasted";
  first.recordingMs = 2500;
  first.stopToPasteMs = 800;
  first.refineMs = 650;
  first.totalMs = 61000;
  first.rawText = "嗯 今天开会";
  first.finalText = "今天开会。";
  first.audioPath = "/home/u/.local/share/Mirla/audio/T1.wav";
  MirlaHistoryEntry second = first;
  second.id = "T2";
  second.audioPath.reset();
  MirlaFeedbackEntry edit;
  edit.turnID = "T1";
  edit.finalText = "今天开会。";
  edit.editedText = "今天下午开会。";
  const std::vector<MirlaHistoryEntry> history{first, second};
  const std::vector<MirlaFeedbackEntry> feedback{edit};
  const std::string text = historySectionText(history, feedback, "Asia/Shanghai");
  const std::string firstBlock =
      "12月6日 10:45 · gedit · dictation\n"
      "识别：qwen3-asr-flash-realtime · 整理：deepseek-direct · pasted\n"
      "耗时：录音 2.5s · 停止到粘贴 800ms · 整理 650ms · 总计 1.0min\n"
      "原始识别：嗯 今天开会\n"
      "结果：今天开会。\n"
      "用户最终修改：今天下午开会。\n"
      "音频已保存：/home/u/.local/share/Mirla/audio/T1.wav";
  EXPECT_EQ(text.substr(0, firstBlock.size()), firstBlock);
  EXPECT_TRUE(text::contains(text, "音频已保存：/home/u/.local/share/Mirla/audio/T1.wav\n\n────────────────────────\n\n"
                                   "12月6日 10:45"));
  // The second turn has no edit and no audio.
  EXPECT_TRUE(text::endsWith(text, "结果：今天开会。"));
}

TEST(DashboardText, FeedbackBlocksWithDiff) {
  MirlaFeedbackEntry entry;
  entry.createdAtMs = 1764989111000;
  entry.appName = "gedit";
  entry.status = "learned";
  entry.rawText = "用 code x";
  entry.finalText = "用 code x。";
  entry.editedText = "用 Codex。";
  entry.oldSegment = "code x";
  entry.newSegment = "Codex";
  entry.learnedTerm = "Codex";
  const std::vector<MirlaFeedbackEntry> feedback{entry};
  EXPECT_EQ(feedbackSectionText(feedback, "Asia/Shanghai"),
            "12月6日 10:45 · gedit · learned\n原始识别：用 code x\nMirla 输出：用 code x。\n用户修改：用 Codex。\n"
            "Diff：code x → Codex\n学到：Codex");
  EXPECT_EQ(dictionaryAddedStatus("Codex"), "已加入：Codex。它会进入本机词典，并参与后续热词和表达修正。");
}

}  // namespace
}  // namespace sorvane
