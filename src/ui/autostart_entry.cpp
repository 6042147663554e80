#include "ui/autostart_entry.h"

#include <algorithm>
#include <filesystem>
#include <span>
#include <system_error>

#include "core/atomic_file.h"
#include "core/log.h"
#include "core/paths.h"

namespace sorvane {
namespace {

bool hasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

// One Exec argument. The value is read twice: first as a string value, where "\\" is one
// backslash, then split into arguments, where reserved characters need double quotes and
// ", `, $ and \ inside the quotes a backslash before them. So inside the quotes those take
// two backslashes, and a backslash itself four. A literal % is "%%" (field codes).
std::string execArgument(std::string_view argument) {
  constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
  std::string out;
  if (argument.find_first_of(kReserved) == std::string_view::npos) {
    for (char c : argument) {
      if (c == '%') out += '%';
      out += c;
    }
    return out;
  }
  out += '"';
  for (char c : argument) {
    switch (c) {
      case '"':
      case '`':
      case '$':
        out += "\\\\";
        out += c;
        break;
      case '\\':
        out += "\\\\\\\\";
        break;
      case '%':
        out += "%%";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string autostartEntryPath(const Paths& paths) {
  return paths.autostartFolder + "/" + std::string(kAutostartFileName);
}

std::string autostartEntryText(std::string_view executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Sorvane\n"
         "Comment=Voice input in the tray\n"
         "Exec=" + execArgument(executable) + " " + std::string(kBackgroundSwitch) + "\n"
         "Icon=sorvane\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool isStartAtLoginEnabled(const Paths& paths) {
  std::error_code error;
  return std::filesystem::is_regular_file(autostartEntryPath(paths), error);
}

std::string setStartAtLogin(const Paths& paths, bool enabled, std::string_view executable) {
  const std::string path = autostartEntryPath(paths);
  std::error_code error;
  if (!enabled) {
    std::filesystem::remove(path, error);
    if (error) {
      appLog("autostart entry remove failed " + error.message());
      return error.message();
    }
    appLog("autostart entry removed");
    return {};
  }
  if (executable.empty() || hasControlCharacter(executable)) {
    appLog("autostart entry write refused program name");
    return "unusable program name";
  }
  std::filesystem::create_directories(paths.autostartFolder, error);
  if (error) {
    appLog("autostart entry write failed " + error.message());
    return error.message();
  }
  const std::string text = autostartEntryText(executable);
  if (std::string failure = writeFileAtomically(path, std::span<const char>(text.data(), text.size()), 0644);
      !failure.empty()) {
    appLog("autostart entry write failed " + failure);
    return failure;
  }
  appLog("autostart entry written " + path);
  return {};
}

}  // namespace sorvane
