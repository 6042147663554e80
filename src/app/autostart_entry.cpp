#include "app/autostart_entry.h"

#include <filesystem>
#include <system_error>

#include "core/atomic_file.h"
#include "core/log.h"
#include "core/paths.h"

namespace sorvane {

std::string autostartEntryPath(const Paths& paths) {
  return paths.autostartFolder + "/" + std::string(kAutostartFileName);
}

std::string autostartEntryText(std::string_view executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Sorvane\n"
         "Comment=Voice input in the tray\n"
         "Exec=" + std::string(executable) + " " + std::string(kBackgroundSwitch) + "\n"
         "Icon=sorvane\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool isStartAtLoginEnabled(const Paths& paths) {
  std::error_code error;
  return std::filesystem::is_regular_file(autostartEntryPath(paths), error);
}

bool setStartAtLogin(const Paths& paths, bool enabled, std::string_view executable) {
  const std::string path = autostartEntryPath(paths);
  std::error_code error;
  if (!enabled) {
    std::filesystem::remove(path, error);
    if (error) {
      appLog("autostart entry remove failed " + error.message());
      return false;
    }
    appLog("autostart entry removed");
    return true;
  }
  std::filesystem::create_directories(paths.autostartFolder, error);
  if (error) {
    appLog("autostart entry write failed " + error.message());
    return false;
  }
  const std::string text = autostartEntryText(executable);
  if (std::string failure = writeFileAtomically(path, std::span<const char>(text.data(), text.size()), 0644);
      !failure.empty()) {
    appLog("autostart entry write failed " + failure);
    return false;
  }
  appLog("autostart entry written " + path);
  return true;
}

}  // namespace sorvane
