// Where the system's files live, fixed once at start and handed to every component.
//
// Built from the environment by `Paths::fromEnvironment` in main; tests build one over a
// temporary home. Nothing else in the system reads $HOME or the XDG variables.
//   home          $HOME when set and absolute, else the password database
//   configFolder  <home>/.sorvane             key files, switch files, providers.json
//   dataFolder    $XDG_DATA_HOME/Mirla        (default <home>/.local/share/Mirla)
//   audioFolder   <dataFolder>/audio
//   metricsFolder $XDG_STATE_HOME/Sorvane     (default <home>/.local/state/Sorvane)
//   logPath       /tmp/sorvane.log
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace sorvane {

struct Paths {
  std::string home;
  std::string configFolder;
  std::string dataFolder;
  std::string audioFolder;
  std::string metricsFolder;
  std::string logPath;

  // `getenv` returns a variable's value or nothing; `passwdHome` the account's home.
  static Paths fromEnvironment(const std::function<std::optional<std::string>(const char*)>& getenv,
                               const std::function<std::optional<std::string>()>& passwdHome);
  static Paths fromProcessEnvironment();
  // Every folder under `home`, as in a fresh account without XDG variables.
  static Paths underHome(const std::string& home, std::string logPath);
};

}  // namespace sorvane
