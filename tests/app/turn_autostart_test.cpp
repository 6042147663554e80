#include "app/autostart_entry.h"

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
  ASSERT_TRUE(setStartAtLogin(paths, true, "/usr/bin/sorvane"));
  EXPECT_TRUE(isStartAtLoginEnabled(paths));
  const std::string entry = home.read(".config/autostart/sorvane.desktop");
  EXPECT_NE(entry.find("\nExec=/usr/bin/sorvane --background\n"), std::string::npos);
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
  struct stat info {};
  ASSERT_EQ(stat(autostartEntryPath(paths).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);  // the session reads it; nothing secret inside
  ASSERT_TRUE(setStartAtLogin(paths, true));  // rewriting is fine
  ASSERT_TRUE(setStartAtLogin(paths, false));
  EXPECT_FALSE(isStartAtLoginEnabled(paths));
  EXPECT_TRUE(setStartAtLogin(paths, false));  // already absent
}

}  // namespace
}  // namespace sorvane::testing
