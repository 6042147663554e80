#include "ui/renderer_accessibility_launchers.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "core/atomic_file.h"
#include "core/log.h"
#include "core/paths.h"

namespace sorvane {
namespace {

// Desktop entries are small; anything past this is not one.
constexpr std::uintmax_t kEntrySizeLimit = 256 * 1024;

std::optional<std::string> readEntry(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  if (std::filesystem::file_size(path, error) > kEntrySizeLimit || error) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The groups whose Exec lines start the application: the entry itself and its actions
// ("New Window", "New Incognito Window").
bool launchGroup(std::string_view header) {
  return header == "[Desktop Entry]" || header.rfind("[Desktop Action ", 0) == 0;
}

// The Exec value split into its arguments as written: spaces outside double quotes
// separate them, and a backslash keeps the next character inside a quoted one.
std::vector<std::string_view> execArguments(std::string_view value) {
  std::vector<std::string_view> arguments;
  std::size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && value[i] == ' ') ++i;
    if (i == value.size()) break;
    const std::size_t begin = i;
    bool quoted = false;
    for (; i < value.size() && (quoted || value[i] != ' '); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) {
        ++i;
      } else if (value[i] == '"') {
        quoted = !quoted;
      }
    }
    arguments.push_back(value.substr(begin, i - begin));
  }
  return arguments;
}

bool isFieldCodeOrForwarding(std::string_view argument) {
  return (argument.size() == 2 && argument[0] == '%') || argument.rfind("@@", 0) == 0;
}

std::string joined(const std::vector<std::string_view>& arguments) {
  std::string out;
  for (std::string_view argument : arguments) {
    if (!out.empty()) out += ' ';
    out += argument;
  }
  return out;
}

// Calls `edit` on the value of every Exec line of the launch groups; returns the text
// with the values it gave back.
template <typename Edit>
std::string editExecLines(std::string_view text, Edit edit, std::string_view addToEntryGroup = {}) {
  std::string out;
  std::string_view group;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(at, (end == std::string_view::npos ? text.size() : end) - at);
    at = next;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() == '[') {
      group = line;
      out.append(line).append("\n");
      if (group == "[Desktop Entry]" && !addToEntryGroup.empty()) out.append(addToEntryGroup).append("\n");
      continue;
    }
    if (launchGroup(group) && line.rfind("Exec", 0) == 0) {
      std::size_t equals = 4;
      while (equals < line.size() && line[equals] == ' ') ++equals;
      if (equals < line.size() && line[equals] == '=') {
        std::size_t value = equals + 1;
        while (value < line.size() && line[value] == ' ') ++value;
        out.append("Exec=").append(edit(line.substr(value))).append("\n");
        continue;
      }
    }
    out.append(line).append("\n");
  }
  return out;
}

bool hasLine(std::string_view text, std::string_view line) {
  for (std::size_t at = text.find(line); at != std::string_view::npos; at = text.find(line, at + 1)) {
    const bool starts = at == 0 || text[at - 1] == '\n';
    const std::size_t after = at + line.size();
    const bool ends = after == text.size() || text[after] == '\n' || text[after] == '\r';
    if (starts && ends) return true;
  }
  return false;
}

std::string overrideLine() { return std::string(kLauncherOverrideKey) + "=true"; }

// Entries we must not touch: hidden by the user or the system, or not applications.
bool leftAlone(std::string_view text) {
  return hasLine(text, "Hidden=true") || !hasLine(text, "Type=Application");
}

std::string fail(const std::string& what) {
  appLog("renderer accessibility launchers " + what);
  return what;
}

std::string write(const std::string& path, const std::string& text) {
  return writeFileAtomically(path, std::span<const char>(text.data(), text.size()), 0644);
}

}  // namespace

std::string withRendererAccessibility(std::string_view entryText, bool markAsOurs) {
  const std::string mark = markAsOurs && !hasLine(entryText, overrideLine()) ? overrideLine() : std::string();
  return editExecLines(
      entryText,
      [](std::string_view value) {
        std::vector<std::string_view> arguments = execArguments(value);
        for (std::string_view argument : arguments) {
          if (argument == kRendererAccessibilitySwitch) return std::string(value);
        }
        auto at = arguments.begin() + (arguments.empty() ? 0 : 1);
        while (at != arguments.end() && !isFieldCodeOrForwarding(*at)) ++at;
        arguments.insert(at, kRendererAccessibilitySwitch);
        return joined(arguments);
      },
      mark);
}

std::string withoutRendererAccessibility(std::string_view entryText) {
  return editExecLines(entryText, [](std::string_view value) {
    std::vector<std::string_view> arguments = execArguments(value);
    std::erase(arguments, kRendererAccessibilitySwitch);
    return joined(arguments);
  });
}

bool launchesWithRendererAccessibility(std::string_view entryText) {
  bool any = false, all = true;
  editExecLines(entryText, [&](std::string_view value) {
    bool has = false;
    for (std::string_view argument : execArguments(value)) has = has || argument == kRendererAccessibilitySwitch;
    any = true;
    all = all && has;
    return std::string(value);
  });
  return any && all;
}

std::string restartNoticeText(const std::vector<std::string>& qtApplications,
                              const std::vector<std::string>& chromiumApplications) {
  auto listed = [](const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : "、") + name;
    return list;
  };
  std::string text;
  if (!qtApplications.empty())
    text += "辅助功能刚刚打开：" + listed(qtApplications) + " 需要重新打开，Sorvane 才能读到其中的输入框。";
  if (!chromiumApplications.empty())
    text += (text.empty() ? "" : "\n") + listed(chromiumApplications) + " 启动时没有带 " +
            std::string(kRendererAccessibilitySwitch) + "，Sorvane 读不到其中的输入框；可在设置里勾选“" +
            std::string(kRendererAccessibilityChoice) + "”，再重新打开它们。";
  return text;
}

std::vector<RendererAccessibilityLauncher> rendererAccessibilityLaunchers(const Paths& paths,
                                                                          std::span<const std::string_view> names) {
  std::vector<RendererAccessibilityLauncher> launchers;
  for (std::string_view name : names) {
    // The user's entry launches it when there is one; a system entry shows it is installed.
    std::optional<std::string> systemPath;
    for (const std::string& folder : paths.systemApplicationsFolders) {
      const std::string path = folder + "/" + std::string(name);
      if (readEntry(path)) {
        systemPath = path;
        break;
      }
    }
    const std::string userPath = paths.applicationsFolder + "/" + std::string(name);
    const std::optional<std::string> user = readEntry(userPath);
    if (!systemPath && !user) continue;
    const std::string path = user ? userPath : *systemPath;
    const std::optional<std::string> text = user ? user : readEntry(*systemPath);
    if (!text || leftAlone(*text)) continue;
    launchers.push_back({std::string(name), path, launchesWithRendererAccessibility(*text)});
  }
  return launchers;
}

std::string setRendererAccessibility(const Paths& paths, bool on, std::span<const std::string_view> names) {
  std::error_code error;
  if (on) {
    std::filesystem::create_directories(paths.applicationsFolder, error);
    if (error) return fail("folder failed " + error.message());
  }
  int changed = 0;
  for (const RendererAccessibilityLauncher& launcher : rendererAccessibilityLaunchers(paths, names)) {
    const std::string userPath = paths.applicationsFolder + "/" + launcher.name;
    const std::optional<std::string> text = readEntry(launcher.path);
    if (!text) continue;
    const bool ours = launcher.path == userPath && hasLine(*text, overrideLine());
    if (!on && ours) {
      std::filesystem::remove(userPath, error);
      if (error) return fail("remove failed " + userPath + " " + error.message());
      ++changed;
      continue;
    }
    if (!on && launcher.path != userPath) continue;  // the system's entry is not ours to edit
    const std::string edited = on ? withRendererAccessibility(*text, launcher.path != userPath)
                                  : withoutRendererAccessibility(*text);
    if (edited == *text && launcher.path == userPath) continue;
    if (std::string failure = write(userPath, edited); !failure.empty()) return fail("write failed " + failure);
    ++changed;
  }
  appLog(std::string("renderer accessibility launchers ") + (on ? "on" : "off") + " changed=" +
         std::to_string(changed));
  return {};
}

}  // namespace sorvane
