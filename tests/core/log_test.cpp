#include "core/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace sorvane {
namespace {

TEST(AppLog, LineFormatIsUtcWithFixedOffset) {
  // 2026-12-06 10:45:11.999 UTC
  EXPECT_EQ(formatLogLine(1796553911999, "refine start provider=qwen-llm-direct 中文"),
            "2026-12-06 10:45:11 +0000 refine start provider=qwen-llm-direct 中文\n");
  EXPECT_EQ(formatLogTimestamp(0), "1970-01-01 00:00:00 +0000");
  // A multi-line message keeps one timestamp, on its first line.
  EXPECT_EQ(formatLogLine(0, "a\nb"), "1970-01-01 00:00:00 +0000 a\nb\n");
}

TEST(AppLog, AppendsToFileCreatedPrivate) {
  testing::TempDir dir;
  const std::string path = dir.file("sorvane.log");
  {
    ScopedLogTarget target(path);
    appLog("first");
    appLog("second line");
  }
  const std::string content = dir.read("sorvane.log");
  EXPECT_NE(content.find(" +0000 first\n"), std::string::npos);
  EXPECT_NE(content.find(" +0000 second line\n"), std::string::npos);
  EXPECT_LT(content.find("first"), content.find("second"));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(AppLog, NeverWritesThroughSymbolicLink) {
  testing::TempDir dir;
  dir.write("victim", "untouched");
  const std::string link = dir.file("sorvane.log");
  ASSERT_EQ(::symlink(dir.file("victim").c_str(), link.c_str()), 0);
  {
    ScopedLogTarget target(link);
    appLog("should not land");
  }
  EXPECT_EQ(dir.read("victim"), "untouched");
}

TEST(AppLog, SkipsFileOwnedByAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
  testing::TempDir dir;
  dir.write("sorvane.log", "theirs\n");
  const std::string path = dir.file("sorvane.log");
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(appendLineSafely(path, "ours\n"));
  EXPECT_EQ(dir.read("sorvane.log"), "theirs\n");
}

TEST(AppLog, UnwritableTargetIsSilent) {
  const std::string unwritable = "/nonexistent-folder/sorvane.log";
  EXPECT_FALSE(appendLineSafely(unwritable, "line\n"));
  testing::TempDir dir;
  ScopedLogTarget outer(dir.file("outer.log"));
  {
    ScopedLogTarget target(unwritable);
    EXPECT_NO_THROW(appLog("goes nowhere"));
  }
  // The failed write left the logger usable: the next line reaches the outer target.
  appLog("after");
  EXPECT_EQ(dir.read("outer.log").find("goes nowhere"), std::string::npos);
  EXPECT_NE(dir.read("outer.log").find("after"), std::string::npos);
}

TEST(AppLog, CaptureSinkSeesMessagesAndRestoresPreviousTarget) {
  testing::TempDir dir;
  ScopedLogTarget file(dir.file("outer.log"));
  {
    testing::LogCapture capture;
    appLog("captured");
    EXPECT_TRUE(capture.contains("captured"));
  }
  appLog("back to file");
  EXPECT_NE(dir.read("outer.log").find("back to file"), std::string::npos);
  EXPECT_EQ(dir.read("outer.log").find("captured"), std::string::npos);
}

}  // namespace
}  // namespace sorvane
