// Snapshots of another program's clipboard through the Qt clipboard adapter stay bounded:
// a stalled owner or a huge format costs at most the time bound and leaves that format
// out, keeping the rest.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/linux/qt_clipboard.h"
#include "x11_test_tools.h"

namespace sorvane {
namespace {

using testing::Fixture;

struct BoundCase {
  const char* name;
  QStringList ownerArguments;
};

TEST(ClipboardSnapshot, AStalledOwnerOrAHugeFormatLeavesThatFormatOutQuickly) {
  if (!testing::haveX11()) GTEST_SKIP() << testing::kNeedsPrivateX;
  const std::vector<BoundCase> cases = {
      {"stalled owner", {"owner", "user text", "<b>never</b>", "--stall-html"}},
      {"80 MB of html", {"owner", "user text", "-", "80000000", "--html-bytes"}},
  };
  for (const BoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture owner(c.ownerArguments);
    ASSERT_TRUE(owner.waitFor("owned", std::chrono::seconds(20)));
    platform::QtClipboard clipboard;
    const auto started = std::chrono::steady_clock::now();
    const ClipboardSnapshot snapshot = clipboard.snapshot(ClipboardSelection::clipboard);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::seconds(3)) << "a bounded read, not the owner's pace";
    EXPECT_FALSE(snapshot.complete);
    ASSERT_EQ(snapshot.formats.size(), 1u);
    EXPECT_EQ(snapshot.formats[0], (ClipboardFormat{"text/plain", "user text"}));
  }
}

TEST(ClipboardSnapshot, EveryFormatOfAResponsiveOwnerWithoutHousekeepingTargets) {
  if (!testing::haveX11()) GTEST_SKIP() << testing::kNeedsPrivateX;
  Fixture owner({"owner", "用户 text", "<b>user</b>"});
  ASSERT_TRUE(owner.waitFor("owned"));
  platform::QtClipboard clipboard;
  const ClipboardSnapshot snapshot = clipboard.snapshot(ClipboardSelection::clipboard);
  EXPECT_TRUE(snapshot.complete);
  EXPECT_EQ(snapshot.formats, (std::vector<ClipboardFormat>{{"text/plain", "用户 text"},
                                                             {"text/html", "<b>user</b>"}}));
}

}  // namespace
}  // namespace sorvane
