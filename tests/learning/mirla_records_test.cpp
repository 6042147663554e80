#include "learning/mirla_records.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/unicode_text.h"

namespace sorvane {
namespace {

MirlaHistoryEntry fullHistoryEntry() {
  return {"8F1C-TURN",  1'765'000'123'456, "raw/text 原始", "final \"text\" 最终", "/home/u/audio/8F1C.wav",
          "微信",        "com.tencent.xinWeChat", "chat",     "com.tencent.xinWeChat|微信",   "dictation",
          "qwen3-asr-flash-realtime", "deepseek-direct", "pasted", 2100, 640, 410, 3050, 12};
}

MirlaFeedbackEntry fullFeedbackEntry() {
  return {"FB-1",      std::string("TURN-1"), 1'765'000'000'001, "raw", "final", "edited", std::string("/a/b.wav"),
          "Code",      "developer",           std::string("Cloud"), std::string("Claude"), "Claude",
          "Mirla 分析：…", 0.93, "llm-learned-dictionary-terms"};
}

MirlaDictionaryTerm fullTerm() { return {"Qwen3-ASR", "manual", std::string("用户在 Mirla 面板手动添加"), 3, 100, 200}; }

TEST(MirlaRecords, EveryFieldSurvivesARoundTrip) {
  const MirlaHistoryEntry history = fullHistoryEntry();
  EXPECT_EQ(decodeHistoryLine(encodeRecordLine(history)), history);
  const MirlaFeedbackEntry feedback = fullFeedbackEntry();
  EXPECT_EQ(decodeFeedbackLine(encodeRecordLine(feedback)), feedback);
  const MirlaDictionaryTerm term = fullTerm();
  auto object = parseJsonObject(encodeRecordLine(term));
  ASSERT_TRUE(object);
  EXPECT_EQ(dictionaryTermFromJson(*object), term);
  const DictionaryFile file{{term, {"Codex", "llm-feedback", std::nullopt, 1, 5, 6}}, {{"Codex", 2}, {"Qwen3-ASR", 1}}};
  const DictionaryDecoding decoded = decodeDictionaryFile(toJsonLine(toJson(file)));
  EXPECT_FALSE(decoded.damaged);
  EXPECT_EQ(decoded.file, file);
}

// The byte format: sorted keys, "\/", integers as integers, absent optionals left out.
TEST(MirlaRecords, GoldenLines) {
  MirlaHistoryEntry history = fullHistoryEntry();
  history.audioPath.reset();
  EXPECT_EQ(encodeRecordLine(history),
            R"({"appName":"微信","asrProvider":"qwen3-asr-flash-realtime","bundleIdentifier":"com.tencent.xinWeChat",)"
            R"("createdAtMs":1765000123456,"finalChars":12,"finalText":"final \"text\" 最终","id":"8F1C-TURN",)"
            R"("inputBoxIdentifier":"com.tencent.xinWeChat|微信","mode":"dictation","rawText":"raw\/text 原始",)"
            R"("recordingMs":2100,"refineMs":410,"refineProvider":"deepseek-direct","scene":"chat","status":"pasted",)"
            R"("stopToPasteMs":640,"totalMs":3050})");
  MirlaFeedbackEntry feedback = fullFeedbackEntry();
  feedback.turnID.reset();
  feedback.oldSegment.reset();
  feedback.confidence = 0.4;
  EXPECT_EQ(encodeRecordLine(feedback),
            R"({"appName":"Code","audioPath":"\/a\/b.wav","confidence":0.4,"createdAtMs":1765000000001,)"
            R"("editedText":"edited","finalText":"final","id":"FB-1","learnedTerm":"Claude","newSegment":"Claude",)"
            R"("rawText":"raw","scene":"developer","status":"llm-learned-dictionary-terms",)"
            R"("strategySuggestion":"Mirla 分析：…"})");
  MirlaDictionaryTerm term = fullTerm();
  term.reason.reset();
  EXPECT_EQ(encodeRecordLine(term),
            R"({"count":3,"createdAtMs":100,"source":"manual","term":"Qwen3-ASR","updatedAtMs":200})");
  EXPECT_EQ(toJsonLine(toJson(DictionaryFile{{}, {{"a/b", 1}}})), R"({"candidates":{"a\/b":1},"terms":[]})");
}

TEST(MirlaRecords, LinesThatDoNotDecodeGiveNothing) {
  const std::string good = encodeRecordLine(fullHistoryEntry());
  auto without = [&](const std::string& key) {
    Json object = *parseJsonObject(good);
    object.erase(key);
    return object.dump();
  };
  auto with = [&](const std::string& key, Json value) {
    Json object = *parseJsonObject(good);
    object[key] = std::move(value);
    return object.dump();
  };
  const std::vector<std::string> bad{
      without("finalChars"),
      without("id"),
      with("recordingMs", 1.5),
      with("recordingMs", "12"),
      with("createdAtMs", 18'446'744'073'709'551'615u),
      with("audioPath", 7),
      "{\"id\":\"\xff\xfe\"}",
      good.substr(0, good.size() / 2),
      "[1,2]",
      "",
  };
  for (const auto& line : bad) EXPECT_FALSE(decodeHistoryLine(line)) << line;
  // A null optional is an absent one; an unknown key is ignored.
  auto nullPath = decodeHistoryLine(with("audioPath", nullptr));
  ASSERT_TRUE(nullPath);
  EXPECT_FALSE(nullPath->audioPath);
  EXPECT_TRUE(decodeHistoryLine(with("futureField", true)));
  // Feedback confidence is any JSON number, integers included.
  Json feedback = *parseJsonObject(encodeRecordLine(fullFeedbackEntry()));
  feedback["confidence"] = 1;
  EXPECT_TRUE(decodeFeedbackLine(feedback.dump()));
  feedback["confidence"] = "0.9";
  EXPECT_FALSE(decodeFeedbackLine(feedback.dump()));
}

TEST(MirlaRecords, DamagedDictionaryKeepsWhatDecodes) {
  struct Case {
    std::string text;
    bool damaged;
    std::size_t terms;
    std::size_t candidates;
  };
  const std::string term = encodeRecordLine(fullTerm());
  const std::vector<Case> cases{
      {"{\"terms\":[" + term + "],\"candidates\":{\"a\":1}}", false, 1, 1},
      {"{\"terms\":[" + term + ",{\"term\":\"x\"}],\"candidates\":{}}", true, 1, 0},
      {"{\"terms\":[" + term + "],\"candidates\":{\"a\":\"1\",\"b\":2}}", true, 1, 1},
      {"{\"terms\":[" + term + "]}", true, 1, 0},
      {"not json", true, 0, 0},
      {"", true, 0, 0},
  };
  for (const auto& c : cases) {
    const DictionaryDecoding decoded = decodeDictionaryFile(c.text);
    EXPECT_EQ(decoded.damaged, c.damaged) << c.text;
    EXPECT_EQ(decoded.file.terms.size(), c.terms) << c.text;
    EXPECT_EQ(decoded.file.candidates.size(), c.candidates) << c.text;
  }
}

TEST(MirlaRecords, LongTextsAreClippedAroundAnEllipsis) {
  auto repeat = [](std::string_view unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  EXPECT_EQ(clipRawText(repeat("字", 2600)), repeat("字", 2600));
  const std::string raw = repeat("甲", 1300) + "乙" + repeat("丙", 1300);  // 2601 characters
  EXPECT_EQ(clipRawText(raw), repeat("甲", 1300) + "..." + repeat("丙", 1297));
  EXPECT_EQ(text::graphemeCount(clipRawText(raw)), 2600u);
  EXPECT_EQ(clipDeliveredText(repeat("a", 3600)), repeat("a", 3600));
  EXPECT_EQ(clipDeliveredText(repeat("a", 1800) + repeat("b", 1801)), repeat("a", 1800) + "..." + repeat("b", 1797));
}

constexpr const char* kShanghai = "Asia/Shanghai";
// 2025-12-06 10:00 in Shanghai (02:00 UTC).
constexpr int64_t kNow = 1'764'986'400'000;
constexpr int64_t kDay = 86'400'000;

MirlaHistoryEntry turnAt(int64_t createdAtMs, int64_t chars, int64_t recordingMs = 0, int64_t totalMs = 0) {
  MirlaHistoryEntry entry;
  entry.createdAtMs = createdAtMs;
  entry.finalChars = chars;
  entry.recordingMs = recordingMs;
  entry.totalMs = totalMs;
  return entry;
}

TEST(MirlaDashboard, DailyBucketsAreTheLastSevenLocalDaysMatchedByLabel) {
  const int64_t today = startOfLocalDay(kNow, kShanghai);
  EXPECT_EQ(today, kNow - 10 * 3'600'000);
  const std::vector<MirlaHistoryEntry> history{
      turnAt(today, 5),                 // today, first millisecond
      turnAt(today - 1, 7),             // yesterday, last millisecond
      turnAt(today - 6 * kDay, 11),     // oldest bucket
      turnAt(today - 7 * kDay, 100),    // outside the seven days
      turnAt(today - 365 * kDay, 13),   // 2024-12-06: same label as today
  };
  const auto buckets = dailyCharacterBuckets(history, kNow, kShanghai);
  const std::vector<std::pair<std::string, int64_t>> expected{{"11/30", 11}, {"12/1", 0}, {"12/2", 0}, {"12/3", 0},
                                                              {"12/4", 0},   {"12/5", 7}, {"12/6", 18}};
  EXPECT_EQ(buckets, expected);
  // The same instant is another day in another zone.
  EXPECT_EQ(dailyCharacterBuckets(std::vector<MirlaHistoryEntry>{turnAt(today, 5)}, kNow, "UTC").back(),
            (std::pair<std::string, int64_t>{"12/6", 0}));
}

TEST(MirlaDashboard, SavedTimeFollowsTheTypingModelAndNeverGoesNegative) {
  const int64_t today = startOfLocalDay(kNow, kShanghai);
  const std::vector<MirlaHistoryEntry> history{
      turnAt(today - 2 * kDay, 10, 4000, 5000),  // saves 2600 - 1000
      turnAt(today + 1000, 2, 1000, 60'000),     // waiting far beyond typing: 520 - 59000
  };
  const MirlaDashboardStats stats = computeDashboardStats(history, 3, 4, kNow, kShanghai);
  EXPECT_EQ(stats.turnCount, 2);
  EXPECT_EQ(stats.totalRecordingMs, 5000);
  EXPECT_EQ(stats.totalChars, 12);
  EXPECT_EQ(stats.estimatedSavedMs, 0);  // 12 * 260 - (1000 + 59000) < 0
  EXPECT_EQ(stats.todayRecordingMs, 1000);
  EXPECT_EQ(stats.todayChars, 2);
  EXPECT_EQ(stats.todaySavedMs, 0);
  EXPECT_EQ(stats.feedbackCount, 3);
  EXPECT_EQ(stats.dictionaryCount, 4);
  const MirlaDashboardStats one = computeDashboardStats(std::span(history).first(1), 0, 0, kNow, kShanghai);
  EXPECT_EQ(one.estimatedSavedMs, 1600);
  EXPECT_EQ(one.todaySavedMs, 0);
  // Absurd figures from a damaged file saturate instead of overflowing.
  const std::vector<MirlaHistoryEntry> absurd{turnAt(today, INT64_MAX, INT64_MIN, INT64_MAX),
                                              turnAt(today, INT64_MAX, INT64_MAX, INT64_MIN)};
  const MirlaDashboardStats saturated = computeDashboardStats(absurd, 0, 0, kNow, kShanghai);
  EXPECT_EQ(saturated.totalChars, INT64_MAX);
  EXPECT_GE(saturated.estimatedSavedMs, 0);
}

}  // namespace
}  // namespace sorvane
