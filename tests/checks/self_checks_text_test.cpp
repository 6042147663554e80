// The text-rule self-checks: each passes with its built-in samples, and a deliberately
// wrong expectation shows the failure lines and status.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "checks/self_checks.h"
#include "checks/self_checks_text.h"
#include "core/paths.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

struct BuiltInCheck {
  const char* flag;
  int (*run)(std::ostream&);
  const char* successLine;
};

TEST(TextSelfChecks, BuiltInSamplesPassAndAreInTheTable) {
  testing::TempDir home;
  const Paths paths = Paths::underHome(home.path(), home.file("sorvane.log"));
  const std::vector<BuiltInCheck> checks{
      {"--self-test-asr-guard", runAsrGuardCheck, "asr guard ok\n"},
      {"--self-test-disfluency-cleanup", runDisfluencyCleanupCheck, "disfluency cleanup ok\n"},
      {"--self-test-self-correction", runSelfCorrectionCheck, "self correction ok\n"},
      {"--self-test-refine-fastpath", runRefineFastpathCheck, "refine fastpath ok\n"},
      {"--self-test-gentle-paragraphs", runGentleParagraphsCheck, "gentle paragraphs ok\n"},
      {"--self-test-murmly-format", runMurmlyFormatCheck, "murmly format ok\n"},
  };
  for (const BuiltInCheck& check : checks) {
    std::ostringstream out;
    EXPECT_EQ(check.run(out), 0) << check.flag;
    EXPECT_EQ(out.str(), check.successLine);
    bool listed = false;
    for (const SelfCheckEntry& entry : selfCheckTable()) {
      if (entry.flag != check.flag || !entry.run) continue;
      // The table's entry runs the same check: the same success line.
      std::ostringstream viaTable;
      EXPECT_EQ(entry.run(SelfCheckContext{viaTable, paths}), 0);
      listed = viaTable.str() == check.successLine;
    }
    EXPECT_TRUE(listed) << check.flag;
  }
}

TEST(TextSelfChecks, WrongExpectationsFailWithTheirLines) {
  const std::string_view terms[] = {"Murmly", "Codex", "Deepgram"};
  {
    const AsrGuardCase cases[] = {{"好的。", 5440, 2500, std::nullopt, std::nullopt, true}};
    std::ostringstream out;
    EXPECT_EQ(runAsrGuardCheck(out, cases, terms), 1);
    EXPECT_EQ(out.str(), "asr guard failed\n");
  }
  {
    const CleanupCase cases[] = {{"嗯嗯", "嗯嗯"}, {"呃这个方案可以吗", "这个方案可以"}};
    std::ostringstream out;
    EXPECT_EQ(runDisfluencyCleanupCheck(out, cases), 1);
    EXPECT_EQ(out.str(),
              "disfluency cleanup failed\ninput=呃这个方案可以吗\nexpected=这个方案可以\nactual=这个方案可以吗\n");
  }
  {
    const SelfCorrectionCase cases[] = {{"我想把这个会订到八点，不对，是九点", "我把会议订到九点。", {"九点"}, {}}};
    std::ostringstream out;
    EXPECT_EQ(runSelfCorrectionCheck(out, cases), 1);
    EXPECT_EQ(out.str(), "self correction failed\n我把会议订到九点。\n");
  }
  {
    const FastpathCase cases[] = {{"DeepSeek", true}};
    std::ostringstream out;
    EXPECT_EQ(runRefineFastpathCheck(out, cases), 1);
    EXPECT_EQ(out.str(), "refine fastpath failed\n");
  }
  {
    const ParagraphCase cases[] = {{"这个方案可以，但今天先别发版。", {"但今天"}}};
    std::ostringstream out;
    EXPECT_EQ(runGentleParagraphsCheck(out, cases), 1);
    EXPECT_EQ(out.str(), "gentle paragraphs failed\n");
  }
  {
    const FormatCase cases[] = {{"下午三点半开会", "下午 3:30\n开会。"}, {"两千块", "两千块"}};
    std::ostringstream out;
    EXPECT_EQ(runMurmlyFormatCheck(out, cases), 1);
    EXPECT_EQ(out.str(), "murmly format failed\ninput=两千块\nexpected=两千块\nactual=2000块\n");
  }
}

TEST(TextSelfChecks, ComparisonKeyIgnoresOnlyWhiteSpace) {
  EXPECT_EQ(formatComparisonKey("1. 准确\n\n2. 用 Codex\t写"), "1.准确2.用Codex写");
  EXPECT_NE(formatComparisonKey("准确。"), formatComparisonKey("准确"));
}

}  // namespace
}  // namespace sorvane
