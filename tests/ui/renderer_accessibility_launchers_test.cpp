#include "ui/renderer_accessibility_launchers.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/paths.h"
#include "support/test_support.h"

namespace sorvane::testing {
namespace {

TEST(RendererAccessibilityLaunchers, TheSwitchGoesWhereTheApplicationGetsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"Exec=/usr/bin/chromium %U", "Exec=/usr/bin/chromium --force-renderer-accessibility %U"},
      {"Exec=chromium", "Exec=chromium --force-renderer-accessibility"},
      {"Exec=/usr/bin/chromium --incognito", "Exec=/usr/bin/chromium --incognito --force-renderer-accessibility"},
      // Flatpak: after the application's own arguments, before the file forwarding.
      {"Exec=/usr/bin/flatpak run --branch=stable --command=chromium --file-forwarding org.chromium.Chromium @@u %U @@",
       "Exec=/usr/bin/flatpak run --branch=stable --command=chromium --file-forwarding org.chromium.Chromium "
       "--force-renderer-accessibility @@u %U @@"},
      {"Exec=\"/opt/My Apps/code\" --unity-launch %F",
       "Exec=\"/opt/My Apps/code\" --unity-launch --force-renderer-accessibility %F"},
      {"Exec = code --force-renderer-accessibility %F", "Exec=code --force-renderer-accessibility %F"},
  };
  for (const auto& [before, after] : cases) {
    const std::string entry = std::string("[Desktop Entry]\nType=Application\n") + before + "\n";
    const std::string edited = withRendererAccessibility(entry, false);
    EXPECT_EQ(edited, std::string("[Desktop Entry]\nType=Application\n") + after + "\n") << before;
    EXPECT_TRUE(launchesWithRendererAccessibility(edited)) << before;
  }
}

TEST(RendererAccessibilityLaunchers, OnlyTheLaunchLinesChangeAndTheSwitchComesOutAgain) {
  const std::string entry =
      "[Desktop Entry]\nName=Chromium\nType=Application\nTryExec=chromium\nExec=chromium %U\nActions=new;\n\n"
      "[Desktop Action new]\nName=New Window\nExec=chromium --new-window\n\n"
      "[X-Vendor Extra]\nExec=chromium-helper\n";
  EXPECT_FALSE(launchesWithRendererAccessibility(entry));
  const std::string ours = withRendererAccessibility(entry, true);
  EXPECT_EQ(ours,
            "[Desktop Entry]\nX-Sorvane-Override=true\nName=Chromium\nType=Application\nTryExec=chromium\n"
            "Exec=chromium --force-renderer-accessibility %U\nActions=new;\n\n"
            "[Desktop Action new]\nName=New Window\nExec=chromium --new-window --force-renderer-accessibility\n\n"
            "[X-Vendor Extra]\nExec=chromium-helper\n");
  EXPECT_EQ(withRendererAccessibility(ours, true), ours);  // once is enough
  EXPECT_EQ(withoutRendererAccessibility(withRendererAccessibility(entry, false)), entry);
  EXPECT_FALSE(launchesWithRendererAccessibility("[Desktop Entry]\nType=Application\nName=x\n"));
}

// A machine with Chromium and Code installed, a launcher for Code the user wrote, and a
// hidden Signal entry: turning the offer on and off again leaves the machine as it was.
TEST(RendererAccessibilityLaunchers, OnWritesCopiesOffRemovesOnlyWhatWeWrote) {
  TempDir home;
  Paths paths = Paths::underHome(home.path(), home.file("sorvane.log"));
  paths.systemApplicationsFolders = {home.file("missing/applications"), home.file("system/applications")};
  std::filesystem::create_directories(home.file("system/applications"));
  std::filesystem::create_directories(paths.applicationsFolder);
  const std::string chromium = "[Desktop Entry]\nType=Application\nName=Chromium\nExec=/usr/bin/chromium %U\n";
  const std::string code = "[Desktop Entry]\nType=Application\nName=Code\nExec=/usr/share/code/code %F\n";
  const std::string mine = "[Desktop Entry]\nType=Application\nName=My Code\nExec=code --disable-gpu %F\n";
  const std::string hidden = "[Desktop Entry]\nType=Application\nHidden=true\n";
  home.write("system/applications/chromium.desktop", chromium);
  home.write("system/applications/code.desktop", code);
  home.write("system/applications/signal-desktop.desktop", "[Desktop Entry]\nType=Application\nExec=signal\n");
  home.write(".local/share/applications/code.desktop", mine);
  home.write(".local/share/applications/signal-desktop.desktop", hidden);

  auto launchers = rendererAccessibilityLaunchers(paths);
  ASSERT_EQ(launchers.size(), 2u);
  EXPECT_EQ(launchers[0].name, "chromium.desktop");
  EXPECT_EQ(launchers[0].path, home.file("system/applications/chromium.desktop"));
  EXPECT_EQ(launchers[1].path, paths.applicationsFolder + "/code.desktop");
  EXPECT_FALSE(launchers[0].exposed || launchers[1].exposed);

  ASSERT_EQ(setRendererAccessibility(paths, true), "");
  launchers = rendererAccessibilityLaunchers(paths);
  ASSERT_EQ(launchers.size(), 2u);
  EXPECT_TRUE(launchers[0].exposed && launchers[1].exposed);
  EXPECT_EQ(launchers[0].path, paths.applicationsFolder + "/chromium.desktop");
  EXPECT_EQ(home.read(".local/share/applications/chromium.desktop"), withRendererAccessibility(chromium, true));
  EXPECT_EQ(home.read(".local/share/applications/code.desktop"), withRendererAccessibility(mine, false));
  EXPECT_EQ(home.read(".local/share/applications/signal-desktop.desktop"), hidden);
  EXPECT_EQ(home.read("system/applications/chromium.desktop"), chromium);

  ASSERT_EQ(setRendererAccessibility(paths, false), "");
  EXPECT_FALSE(std::filesystem::exists(paths.applicationsFolder + "/chromium.desktop"));
  EXPECT_EQ(home.read(".local/share/applications/code.desktop"), mine);
  EXPECT_EQ(home.read(".local/share/applications/signal-desktop.desktop"), hidden);
  EXPECT_EQ(home.read("system/applications/code.desktop"), code);
}

TEST(RendererAccessibilityLaunchers, AnUnwritableFolderIsReported) {
  TempDir home;
  Paths paths = Paths::underHome(home.path(), home.file("sorvane.log"));
  paths.systemApplicationsFolders = {home.file("system")};
  std::filesystem::create_directories(home.file("system"));
  home.write("system/chromium.desktop", "[Desktop Entry]\nType=Application\nExec=chromium %U\n");
  home.write("file", "not a folder");
  paths.applicationsFolder = home.file("file/applications");
  LogCapture log;
  EXPECT_NE(setRendererAccessibility(paths, true), "");
  EXPECT_TRUE(log.contains("renderer accessibility launchers folder failed"));
}

TEST(RendererAccessibilityLaunchers, TheRestartNoticeNamesBothKindsAndPointsToTheSetting) {
  EXPECT_EQ(restartNoticeText({}, {}), "");
  const std::string text = restartNoticeText({"FeatherPad", "qterminal"}, {"Chromium"});
  EXPECT_NE(text.find("FeatherPad、qterminal 需要重新打开"), std::string::npos) << text;
  EXPECT_NE(text.find("Chromium 启动时没有带 --force-renderer-accessibility"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string(kRendererAccessibilityChoice)), std::string::npos) << text;
}

}  // namespace
}  // namespace sorvane::testing
