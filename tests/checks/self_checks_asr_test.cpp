#include "checks/self_checks_asr.h"

#include <sstream>

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(QwenStashCheckTest, BuiltInCasesPassAndAWrongExpectationFails) {
  std::ostringstream out;
  const auto cases = defaultQwenStashCases();
  EXPECT_EQ(cases.size(), 6u);
  EXPECT_EQ(runQwenStashCheck(out, cases), 0);
  EXPECT_EQ(out.str(), "qwen stash ok\n");

  auto wrong = cases;
  wrong[2].expected = "今天要讨论实时语音语音输入法";  // the overlap joined twice
  std::ostringstream failed;
  EXPECT_EQ(runQwenStashCheck(failed, wrong), 1);
  EXPECT_EQ(failed.str(), "qwen stash failed\n");
}

}  // namespace
}  // namespace sorvane
