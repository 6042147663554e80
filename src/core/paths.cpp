#include "core/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <vector>


namespace sorvane {
namespace {

bool isAbsolute(const std::optional<std::string>& path) {
  return path && !path->empty() && path->front() == '/';
}

}  // namespace

Paths Paths::fromEnvironment(const std::function<std::optional<std::string>(const char*)>& getenv,
                             const std::function<std::optional<std::string>()>& passwdHome,
                             unsigned uid) {
  Paths paths;
  auto home = getenv("HOME");
  if (isAbsolute(home)) {
    paths.home = *home;
  } else {
    paths.home = passwdHome().value_or("/");
  }
  while (paths.home.size() > 1 && paths.home.back() == '/') paths.home.pop_back();
  paths.configFolder = paths.home + "/.sorvane";
  // The XDG base directory rules ignore relative values.
  auto dataHome = getenv("XDG_DATA_HOME");
  const std::string dataBase = isAbsolute(dataHome) ? *dataHome : paths.home + "/.local/share";
  paths.dataFolder = dataBase + "/Mirla";
  paths.applicationsFolder = dataBase + "/applications";
  // XDG_DATA_DIRS keeps its absolute entries in order; unset or empty means the default.
  const auto dataDirs = getenv("XDG_DATA_DIRS");
  std::string_view dirs = dataDirs && !dataDirs->empty() ? std::string_view(*dataDirs) : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (isAbsolute(dir)) paths.systemApplicationsFolders.push_back(dir + "/applications");
  }
  paths.audioFolder = paths.dataFolder + "/audio";
  auto stateHome = getenv("XDG_STATE_HOME");
  paths.metricsFolder = (isAbsolute(stateHome) ? *stateHome : paths.home + "/.local/state") + "/Sorvane";
  auto logFile = getenv(kLogFileVariable);
  paths.logPath = isAbsolute(logFile) ? *logFile : std::string(kDefaultLogPath);
  auto runtime = getenv("XDG_RUNTIME_DIR");
  paths.runtimeFolder = isAbsolute(runtime) ? *runtime : "/tmp/sorvane-" + std::to_string(uid);
  auto configHome = getenv("XDG_CONFIG_HOME");
  const std::string configBase = isAbsolute(configHome) ? *configHome : paths.home + "/.config";
  paths.settingsFile = configBase + "/Sorvane/Sorvane.conf";
  paths.autostartFolder = configBase + "/autostart";
  return paths;
}

Paths Paths::fromProcessEnvironment() {
  return fromEnvironment(
      [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value) return std::nullopt;
        return std::string(value);
      },
      []() -> std::optional<std::string> {
        long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
        struct passwd entry {};
        struct passwd* result = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result ||
            !result->pw_dir) {
          return std::nullopt;
        }
        return std::string(result->pw_dir);
      },
      static_cast<unsigned>(::getuid()));
}

Paths Paths::underHome(const std::string& home, std::string logPath) {
  Paths paths = fromEnvironment(
      [&](const char* name) -> std::optional<std::string> {
        if (std::string_view(name) == "HOME") return home;
        return std::nullopt;
      },
      [] { return std::optional<std::string>(); });
  paths.logPath = std::move(logPath);
  paths.runtimeFolder = paths.home + "/run";
  return paths;
}

bool Paths::ensureRuntimeFolder() const {
  if (runtimeFolder.empty()) return false;
  if (::mkdir(runtimeFolder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  // A folder that another user made in /tmp must not hold our lock and socket.
  return ::lstat(runtimeFolder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

}  // namespace sorvane
