#include "core/turn_metrics.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

class TurnMetricsTest : public ::testing::Test {
 protected:
  testing::VirtualClock clock{1'700'000'000'000};
  testing::TempDir dir;
  testing::LogCapture log;
  std::string folder() const { return dir.path() + "/state/Sorvane"; }
  void at(int64_t elapsedMs) { clock.setElapsed(elapsedMs); }
};

TEST_F(TurnMetricsTest, FinishWritesGoldenLine) {
  TurnMetrics metrics(clock, folder(), "3F2504E0-4F89-41D3-9A0C-0305E82C3301");
  at(10);
  metrics.mark("startRequested");
  at(250);
  metrics.mark("recordingShown");
  at(4000);
  metrics.mark("stopRequested");
  at(3900);  // the clock of another queue lagged: this duration must be dropped
  metrics.mark("speechStopped");
  at(5200);
  metrics.mark("pasteDone");
  metrics.setValue("provider", "qwen3-asr-flash-realtime");
  metrics.setValue("audioPath", "/home/u/.local/share/Mirla/audio/a.wav");
  metrics.setValue("qwenCutoffFlushBytes", 4800);
  metrics.setValue("rms", 0.25);
  metrics.setValue("localFastpathHit", true);
  at(5210);
  ASSERT_TRUE(metrics.finish("pasted"));

  const std::string expected =
      R"({"createdAtMs":1700000000000,"durationsMs":{"recordingMs":3750,"startupMs":240,)"
      R"("stopToPasteMs":1200,"totalMs":5200},"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301",)"
      R"("marks":{"created":1700000000000,"metricsWritten":1700000005210,"pasteDone":1700000005200,)"
      R"("recordingShown":1700000000250,"speechStopped":1700000003900,"startRequested":1700000000010,)"
      R"("stopRequested":1700000004000},"values":{"audioPath":"\/home\/u\/.local\/share\/Mirla\/audio\/a.wav",)"
      R"("localFastpathHit":true,"provider":"qwen3-asr-flash-realtime","qwenCutoffFlushBytes":4800,)"
      R"("rms":0.25,"status":"pasted"}})"
      "\n";
  EXPECT_EQ(dir.read("state/Sorvane/turns.jsonl"), expected);
  EXPECT_TRUE(log.contains("metrics wrote " + folder() + "/turns.jsonl"));
}

TEST_F(TurnMetricsTest, AppendsOneLinePerTurnAndCreatesFolder) {
  struct stat info {};
  ASSERT_NE(::stat(folder().c_str(), &info), 0);
  TurnMetrics first(clock, folder());
  TurnMetrics second(clock, folder());
  first.finish("pasted");
  second.finish("cancelled");
  const std::string content = dir.read("state/Sorvane/turns.jsonl");
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 2);
  EXPECT_NE(content.find(first.id()), std::string::npos);
  EXPECT_NE(content.find("\"status\":\"cancelled\""), std::string::npos);
}

TEST_F(TurnMetricsTest, WriteFailureIsLoggedNotThrown) {
  dir.write("blocker", "a file where the folder should be");
  TurnMetrics metrics(clock, dir.file("blocker") + "/Sorvane");
  EXPECT_FALSE(metrics.finish("pasted"));
  EXPECT_TRUE(log.contains("metrics write failed "));
}

TEST_F(TurnMetricsTest, IntValueAndDurationValue) {
  TurnMetrics metrics(clock, folder());
  metrics.setValue("real", 12.9);
  metrics.setValue("negativeReal", -3.7);
  metrics.setValue("text", "12");
  metrics.setValue("int", int64_t{9'000'000'000});
  metrics.setValue("flag", true);
  EXPECT_EQ(metrics.intValue("real"), 12);
  EXPECT_EQ(metrics.intValue("negativeReal"), -3);
  EXPECT_EQ(metrics.intValue("text"), std::nullopt);
  EXPECT_EQ(metrics.intValue("int"), 9'000'000'000);
  EXPECT_EQ(metrics.intValue("flag"), std::nullopt);
  EXPECT_EQ(metrics.intValue("missing"), std::nullopt);

  at(100);
  metrics.mark("a");
  at(150);
  metrics.mark("b");
  EXPECT_EQ(metrics.durationValue("a", "b"), 50);
  EXPECT_EQ(metrics.durationValue("b", "a"), std::nullopt);
  EXPECT_EQ(metrics.durationValue("a", "missing"), std::nullopt);
  at(400);
  metrics.mark("a");  // a later mark of the same name replaces the earlier time
  EXPECT_EQ(metrics.marks().at("a"), clock.wallMilliseconds());
  EXPECT_EQ(metrics.durationValue("a", "b"), std::nullopt);
}

}  // namespace
}  // namespace sorvane
