// Launchers that start Chromium and Electron applications with their fields exposed.
// Those applications put their web content on the AT-SPI bus only when started with
// `--force-renderer-accessibility`: the desktop's accessibility switch does not reach
// them, and Debian's chromium wrapper reads flags only from /etc. What a user can change
// is the launcher: a desktop entry in the user's applications folder
// (`Paths::applicationsFolder`) hides the system's entry of the same name in menus,
// docks and `gtk-launch`.
//
// The settings page offers it as a check box. `rendererAccessibilityLaunchers` lists the
// known entries (`kRendererAccessibilityEntries`) found on the machine and whether the
// one that launches them carries the switch; `setRendererAccessibility(true)` writes a
// copy of each system entry with the switch on every Exec line, marked as ours
// (`kLauncherOverrideKey`), or adds the switch to an entry the user already has; `false`
// removes our copies and takes the switch out of the user's own entries. File work only,
// no Qt; main queue.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context/accessibility.h"  // kRendererAccessibilitySwitch

namespace sorvane {

struct Paths;

// The settings page's check box, named by the notice that sends the user there.
inline constexpr std::string_view kRendererAccessibilityChoice = "让 Chromium 和 Electron 应用提供输入框";
inline constexpr std::string_view kRestartNoticeTitle = "有应用需要重新打开";
// Set in the [Desktop Entry] group of the copies we write, so turning the offer off
// removes only those and leaves entries the user wrote.
inline constexpr std::string_view kLauncherOverrideKey = "X-Sorvane-Override";

// Desktop entry names of Chromium-based browsers and Electron applications, packaged and
// as Flatpak exports.
inline constexpr std::string_view kRendererAccessibilityEntries[] = {
    "chromium.desktop",
    "chromium-browser.desktop",
    "google-chrome.desktop",
    "google-chrome-beta.desktop",
    "brave-browser.desktop",
    "microsoft-edge.desktop",
    "vivaldi-stable.desktop",
    "opera.desktop",
    "code.desktop",
    "codium.desktop",
    "signal-desktop.desktop",
    "slack.desktop",
    "discord.desktop",
    "obsidian.desktop",
    "element-desktop.desktop",
    "org.chromium.Chromium.desktop",
    "com.google.Chrome.desktop",
    "com.brave.Browser.desktop",
    "com.visualstudio.code.desktop",
    "com.slack.Slack.desktop",
    "com.discordapp.Discord.desktop",
    "md.obsidian.Obsidian.desktop",
    "org.signal.Signal.desktop",
    "im.riot.Riot.desktop",
};

// The entry with the switch on every Exec line that lacks it: before the first field code
// (%u, %U, %f, %F) or Flatpak's file forwarding ("@@u", "@@"), so it reaches the
// application and not `flatpak`, else at the end. `markAsOurs` adds the override key.
std::string withRendererAccessibility(std::string_view entryText, bool markAsOurs);
// The entry with the switch taken out of its Exec lines.
std::string withoutRendererAccessibility(std::string_view entryText);
// Whether every Exec line of the entry carries the switch (false without Exec lines).
bool launchesWithRendererAccessibility(std::string_view entryText);

// The notice shown once after the start switched accessibility on: `qtApplications`
// were started before it, `chromiumApplications` without the switch. Empty when both are.
std::string restartNoticeText(const std::vector<std::string>& qtApplications,
                              const std::vector<std::string>& chromiumApplications);

struct RendererAccessibilityLauncher {
  std::string name;     // the entry's file name, "chromium.desktop"
  std::string path;     // the entry that launches it: the user's, else the system's
  bool exposed = false;  // that entry carries the switch
};

std::vector<RendererAccessibilityLauncher> rendererAccessibilityLaunchers(
    const Paths& paths, std::span<const std::string_view> names = kRendererAccessibilityEntries);
// Empty on success, else what failed (also logged). Entries that are hidden (Hidden=true)
// or not applications are left alone.
std::string setRendererAccessibility(const Paths& paths, bool on,
                                     std::span<const std::string_view> names = kRendererAccessibilityEntries);

}  // namespace sorvane
