// The "start at login" entry: a desktop entry in the user's autostart folder
// (`Paths::autostartFolder`, normally ~/.config/autostart) that runs
// `sorvane --background`, so the app starts into the tray without the dashboard.
//
// The settings section's check box reads `isStartAtLoginEnabled` and calls
// `setStartAtLogin`; failures are logged and reported as false. File work only; call it
// from the main queue.
#pragma once

#include <string>
#include <string_view>

namespace sorvane {

struct Paths;

inline constexpr std::string_view kAutostartFileName = "sorvane.desktop";
inline constexpr std::string_view kBackgroundSwitch = "--background";

std::string autostartEntryPath(const Paths& paths);
// The entry's text; `executable` is the program to run (an absolute path or a name
// on PATH).
std::string autostartEntryText(std::string_view executable);
bool isStartAtLoginEnabled(const Paths& paths);
// Writes the entry (atomically, creating the folder) or removes it; true on success.
bool setStartAtLogin(const Paths& paths, bool enabled, std::string_view executable = "sorvane");

}  // namespace sorvane
