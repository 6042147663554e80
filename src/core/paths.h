// Where the system's files live, fixed once at start and handed to every component.
//
// Built from the environment by `Paths::fromEnvironment` in main; tests build one over a
// temporary home. Nothing else in the system reads $HOME or the XDG variables.
//   home          $HOME when set and absolute, else the password database
//   configFolder  <home>/.sorvane             key files, switch files, providers.json
//   dataFolder    $XDG_DATA_HOME/Mirla        (default <home>/.local/share/Mirla)
//   audioFolder   <dataFolder>/audio
//   metricsFolder $XDG_STATE_HOME/Sorvane     (default <home>/.local/state/Sorvane)
//   logPath       /tmp/sorvane.log, or $SORVANE_LOG_FILE when absolute (tests point it
//                 into their temporary home)
//   runtimeFolder $XDG_RUNTIME_DIR             (default /tmp/sorvane-<uid>): the
//                 single-instance lock and the activation socket
//   settingsFile  $XDG_CONFIG_HOME/Sorvane/Sorvane.conf (default <home>/.config/...):
//                 per-user preferences (QSettings in INI form)
//   autostartFolder $XDG_CONFIG_HOME/autostart  desktop entries started at login
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

namespace sorvane {

struct Paths {
  std::string home;
  std::string configFolder;
  std::string dataFolder;
  std::string audioFolder;
  std::string metricsFolder;
  std::string logPath;
  std::string runtimeFolder;
  std::string settingsFile;
  std::string autostartFolder;
  // Desktop entries: the user's own folder, which menus and launchers read first, and the
  // system's folders from XDG_DATA_DIRS in their order.
  std::string applicationsFolder;
  std::vector<std::string> systemApplicationsFolders;

  // `getenv` returns a variable's value or nothing; `passwdHome` the account's home;
  // `uid` names the fallback runtime folder.
  static Paths fromEnvironment(const std::function<std::optional<std::string>(const char*)>& getenv,
                               const std::function<std::optional<std::string>()>& passwdHome,
                               unsigned uid = 0);
  static Paths fromProcessEnvironment();
  // Every folder under `home`, as in a fresh account without XDG variables, except the
  // log at `logPath` and the runtime folder `<home>/run`.
  static Paths underHome(const std::string& home, std::string logPath);

  // Creates `runtimeFolder` (mode 0700) when missing; false when it cannot be used.
  bool ensureRuntimeFolder() const;
};

inline constexpr std::string_view kDefaultLogPath = "/tmp/sorvane.log";
inline constexpr const char* kLogFileVariable = "SORVANE_LOG_FILE";

}  // namespace sorvane
