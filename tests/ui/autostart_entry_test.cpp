#include "ui/autostart_entry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "core/paths.h"
#include "support/test_support.h"

namespace sorvane::testing {
namespace {

TEST(StartAtLogin, WritesAndRemovesTheAutostartEntry) {
  TempDir home;
  const Paths paths = Paths::underHome(home.path(), home.file("sorvane.log"));
  EXPECT_FALSE(isStartAtLoginEnabled(paths));
  ASSERT_EQ(setStartAtLogin(paths, true, "/usr/bin/sorvane"), "");
  EXPECT_TRUE(isStartAtLoginEnabled(paths));
  const std::string entry = home.read(".config/autostart/sorvane.desktop");
  EXPECT_NE(entry.find("\nExec=/usr/bin/sorvane --background\n"), std::string::npos);
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
  struct stat info {};
  ASSERT_EQ(stat(autostartEntryPath(paths).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);  // the session reads it; nothing secret inside
  ASSERT_EQ(setStartAtLogin(paths, true), "");  // rewriting is fine
  ASSERT_EQ(setStartAtLogin(paths, false), "");
  EXPECT_FALSE(isStartAtLoginEnabled(paths));
  EXPECT_EQ(setStartAtLogin(paths, false), "");  // already absent
}

// The program is a path the user chose for the build folder, so it may hold anything.
TEST(StartAtLogin, ExecLineQuotesTheProgramAndRefusesLineBreaks) {
  const std::pair<const char*, const char*> cases[] = {
      {"sorvane", "Exec=sorvane --background"},
      {"/opt/100%/sorvane", "Exec=/opt/100%%/sorvane --background"},
      {"/home/u/My Builds/sorvane", "Exec=\"/home/u/My Builds/sorvane\" --background"},
      {"/b/$x`y\"z/sorvane", "Exec=\"/b/\\\\$x\\\\`y\\\\\"z/sorvane\" --background"},
      {"/b/back\\slash", "Exec=\"/b/back\\\\\\\\slash\" --background"},
  };
  for (const auto& [program, line] : cases) {
    EXPECT_NE(autostartEntryText(program).find(std::string("\n") + line + "\n"), std::string::npos) << program;
  }
  TempDir home;
  const Paths paths = Paths::underHome(home.path(), home.file("sorvane.log"));
  EXPECT_NE(setStartAtLogin(paths, true, "/tmp/x\nHidden=true\n/sorvane"), "");
  EXPECT_FALSE(isStartAtLoginEnabled(paths));
}

}  // namespace
}  // namespace sorvane::testing
