// The "start at login" entry: a desktop entry in the user's autostart folder
// (`Paths::autostartFolder`, normally ~/.config/autostart) that runs
// `<program> --background`, so the app starts into the tray without the dashboard.
//
// The dashboard's settings section shows it as a check box: `isStartAtLoginEnabled` when
// the section is refreshed, `setStartAtLogin` on a toggle. File work only, no Qt; call it
// from the main queue.
#pragma once

#include <string>
#include <string_view>

namespace sorvane {

struct Paths;

inline constexpr std::string_view kAutostartFileName = "sorvane.desktop";
inline constexpr std::string_view kBackgroundSwitch = "--background";

std::string autostartEntryPath(const Paths& paths);
// The entry's text; `executable` is the program to run (an absolute path or a name on
// PATH). A program with spaces or shell characters is quoted the way desktop entries
// want it, so a build folder like "/home/u/My Builds/sorvane" still starts.
std::string autostartEntryText(std::string_view executable);
bool isStartAtLoginEnabled(const Paths& paths);
// Writes the entry (atomically, mode 0644, creating the folder) or removes it. Empty on
// success, else a short description of what failed (also logged). A program with control
// characters is refused: a line break would end the Exec line inside the file.
std::string setStartAtLogin(const Paths& paths, bool enabled, std::string_view executable = "sorvane");

}  // namespace sorvane
