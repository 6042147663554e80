#include <gtest/gtest.h>

#include <sstream>

#include "checks/self_checks.h"
#include "checks/self_checks_context.h"

namespace sorvane {
namespace {

TEST(ContextSelfChecks, BuiltInSamplesPass) {
  struct Case {
    int (*run)(std::ostream&);
    const char* line;
  } cases[] = {
      {runSemanticStructureCheck, "semantic structure ok\n"},
      {runSpeechActGuardCheck, "speech act guard ok\n"},
      {runRecordingModeCheck, "recording mode ok\n"},
      {runMorseCipherCheck, "morse cipher ok\n"},
      {runPasteTargetCheck, "paste target ok\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(c.run(out), 0) << out.str();
    EXPECT_EQ(out.str(), c.line);
  }
}

TEST(ContextSelfChecks, WrongExpectationsReportFailure) {
  {
    auto cases = defaultSemanticStructureCases();
    cases.ordinalComparison.expected = "不是这个结果。";
    std::ostringstream out;
    EXPECT_EQ(runSemanticStructureCheck(out, cases), 1);
    EXPECT_EQ(out.str(),
              "semantic structure failed\n"
              "guarded=所以是不是第一步、第二步、第三步都能帮我做？\n"
              "guardedComparison=我每次都说，其实你那个第一和第二的区分不是很明显。\n"
              "actualList=我有两个问题：\n1. 点击结束录制以后不要吞掉最后几个字\n2. 把这段话整理得更有结构\n");
  }
  {
    auto cases = defaultSpeechActCases();
    cases[1].mustNotContain.push_back("吧");
    std::ostringstream out;
    EXPECT_EQ(runSpeechActGuardCheck(out, cases), 1);
    const std::string text = out.str();
    EXPECT_TRUE(text.starts_with("speech act guard failed\ncandidate=功能都做差不多了，可以上线了。\nresult="));
    EXPECT_NE(text.find("candidate=我觉得功能都做差不多了，可以上线了。\nresult=我觉得"), std::string::npos) << text;
  }
  {
    std::vector<RecordingModeCase> wrong{{7, "style_doubao", "豆包语气", "温和、轻快、有耐心"}};
    std::ostringstream out;
    EXPECT_EQ(runRecordingModeCheck(out, wrong), 1);
    EXPECT_EQ(out.str(), "recording mode failed\n");
    std::vector<RecordingModeCase> selectsNothing{{9, "style_rage", "暴躁开喷", ""}};
    EXPECT_EQ(runRecordingModeCheck(out, selectsNothing), 1);
  }
  {
    std::vector<MorseCase> wrong{{"SOS", "... --- ...", {}}, {"开", std::nullopt, {"/"}}};
    std::ostringstream out;
    EXPECT_EQ(runMorseCipherCheck(out, wrong), 1);
    EXPECT_EQ(out.str(), "morse cipher failed\n··· / --- / ···\n---··-·- -·----·· -·······\n");
  }
  {
    std::vector<PasteTargetCase> wrong{
        {"article page read as editable",
         R"({"bundleIdentifier":"com.google.Chrome","focusedRole":"AXWebArea","visibleText":"An article"})",
         "browser-editing-surface-hint", "browser"}};
    std::ostringstream out;
    EXPECT_EQ(runPasteTargetCheck(out, wrong), 1);
    EXPECT_EQ(out.str(), "paste target failed\n");
    // The scene is checked as well as the reason.
    std::vector<PasteTargetCase> wrongScene{{"mail", R"({"appName":"Mail"})", std::nullopt, "chat"}};
    EXPECT_EQ(runPasteTargetCheck(out, wrongScene), 1);
  }
}

TEST(ContextSelfChecks, SwitchesAreInTheTable) {
  for (const char* flag : {"--self-test-semantic-structure", "--self-test-speech-act-guard",
                           "--self-test-recording-mode", "--self-test-morse-cipher", "--self-test-paste-target"}) {
    bool found = false;
    for (const auto& entry : selfCheckTable()) {
      if (entry.flag == flag) found = entry.run != nullptr;
    }
    EXPECT_TRUE(found) << flag;
  }
}

}  // namespace
}  // namespace sorvane
