#include "app/command_line.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <vector>

#include <gtest/gtest.h>

#include "app/desktop_app.h"

namespace sorvane {
namespace {

int pass(const SelfCheckContext&) { return 0; }

// A table with the real switch names where only some checks are built.
std::vector<SelfCheckEntry> fakeTable() {
  std::vector<SelfCheckEntry> table(selfCheckTable().begin(), selfCheckTable().end());
  for (SelfCheckEntry& entry : table) entry.run = nullptr;
  for (SelfCheckEntry& entry : table) {
    if (entry.flag == "--self-test-asr-guard" || entry.flag == "--self-test-disfluency-cleanup" ||
        entry.flag == "--self-test-paste-target") {
      entry.run = pass;
    }
  }
  return table;
}

TEST(CommandLine, PrecedenceFollowsTableOrderNotArgumentOrder) {
  const auto table = fakeTable();
  const AvailableTools tools{.enhanceWav = true, .bench = true};
  struct Case {
    std::vector<std::string> args;
    ModeKind kind;
    std::string_view check;
  };
  const Case cases[] = {
      {{}, ModeKind::application, ""},
      {{"--unknown", "-x", "file.wav"}, ModeKind::application, ""},
      {{"--bench", "--enhance-wav"}, ModeKind::enhanceWav, ""},
      {{"--bench", "m.json", "--self-test-paste-target"}, ModeKind::selfCheck, "--self-test-paste-target"},
      {{"--self-test-paste-target", "--self-test-disfluency-cleanup"},
       ModeKind::selfCheck,
       "--self-test-disfluency-cleanup"},
      {{"--self-test-disfluency-cleanup", "--self-test-asr-guard"}, ModeKind::selfCheck, "--self-test-asr-guard"},
      {{"--self-test-qwen-stash"}, ModeKind::application, ""},  // not built: not recognised
      {{"--self-test-qwen-stash", "--self-test-paste-target"}, ModeKind::selfCheck, "--self-test-paste-target"},
      {{"--version", "--bench"}, ModeKind::bench, ""},
      {{"--version", "--help"}, ModeKind::help, ""},
      {{"--help", "--renderer-accessibility", "on"}, ModeKind::rendererAccessibility, ""},
      {{"--version"}, ModeKind::version, ""},
      {{"--SELF-TEST-ASR-GUARD"}, ModeKind::application, ""},  // switches are exact
  };
  for (const Case& c : cases) {
    ModeChoice choice = chooseMode(c.args, table, tools);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(choice.kind, c.kind) << joined;
    if (c.kind == ModeKind::selfCheck) {
      ASSERT_NE(choice.check, nullptr) << joined;
      EXPECT_EQ(choice.check->flag, c.check) << joined;
    }
  }
}

TEST(CommandLine, ToolsNotInThisBuildAreNotRecognised) {
  const auto table = fakeTable();
  EXPECT_EQ(chooseMode(std::vector<std::string>{"--enhance-wav", "a.wav"}, table, {}).kind, ModeKind::application);
  EXPECT_EQ(chooseMode(std::vector<std::string>{"--bench"}, table, {}).kind, ModeKind::application);
  const std::string help = helpText(table, {});
  EXPECT_EQ(help.find("--enhance-wav"), std::string::npos);
  EXPECT_NE(help.find("--self-test-paste-target"), std::string::npos);
  EXPECT_EQ(help.find("--self-test-qwen-stash"), std::string::npos);
  EXPECT_NE(helpText(table, {.enhanceWav = true, .bench = true})
                .find("Sorvane --bench manifest.json --out results.jsonl [--profile context-guarded-v4]"),
            std::string::npos);
}

TEST(CommandLine, TableHasTwentyChecksInOrder) {
  const auto table = selfCheckTable();
  ASSERT_EQ(table.size(), 20u);
  EXPECT_EQ(table.front().flag, "--self-test-asr-guard");
  EXPECT_EQ(table[16].flag, "--self-test-paste-target");
  EXPECT_EQ(table.back().flag, "--self-test-edit-observer");
}

// The item only reports the action; the app quits through its event loop (lifecycle tests).
TEST(StatusItem, QuitEntryReportsTheQuitAction) {
  StatusItem item;
  EXPECT_EQ(item.trayIcon().toolTip(), "Mirla");
  EXPECT_FALSE(item.trayIcon().icon().isNull());
  ASSERT_FALSE(item.menu().actions().isEmpty());
  EXPECT_EQ(item.menu().actions().back(), &item.quitAction());
  EXPECT_EQ(item.quitAction().text(), "Quit Mirla");
  std::vector<MenuAction> reported;
  item.onAction = [&](MenuAction action) { reported.push_back(action); };
  item.quitAction().trigger();
  EXPECT_EQ(reported, std::vector<MenuAction>{MenuAction::quit});
}

}  // namespace
}  // namespace sorvane
