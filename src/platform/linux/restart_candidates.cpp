#include "platform/linux/restart_candidates.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "context/accessibility.h"

namespace sorvane::platform {
namespace {

constexpr std::size_t kCommandLineReadLimit = 64 * 1024;
constexpr uint32_t kClientListLimit = 4096;

// The lines of a process's maps that name a Qt library: a browser maps thousands of
// regions, and only these matter here.
std::string qtMapLines(const std::string& path) {
  std::ifstream in(path);
  std::string lines, line;
  while (std::getline(in, line)) {
    if (line.find("/libQt") != std::string::npos) lines += line + "\n";
  }
  return lines;
}

std::string readBounded(const std::string& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

struct XConnection {
  xcb_connection_t* connection = nullptr;
  ~XConnection() {
    if (connection) xcb_disconnect(connection);
  }
};

xcb_atom_t atom(xcb_connection_t* x, const char* name) {
  auto* reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t value = reply->atom;
  std::free(reply);
  return value;
}

std::string property(xcb_connection_t* x, xcb_window_t window, xcb_atom_t name, uint32_t maxLongs) {
  if (name == XCB_ATOM_NONE) return {};
  auto* reply = xcb_get_property_reply(
      x, xcb_get_property(x, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, maxLongs), nullptr);
  if (!reply) return {};
  std::string value(static_cast<const char*>(xcb_get_property_value(reply)),
                    static_cast<std::size_t>(std::max(0, xcb_get_property_value_length(reply))));
  std::free(reply);
  return value;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

std::optional<RestartReason> restartReason(std::string_view maps, std::string_view cmdline, bool chromiumProgram,
                                           bool switchedOnNow) {
  if (chromiumProgram) {
    std::size_t at = 0;
    while (at < cmdline.size()) {
      const std::size_t end = std::min(cmdline.find('\0', at), cmdline.size());
      if (cmdline.substr(at, end - at) == kRendererAccessibilitySwitch) return std::nullopt;
      at = end + 1;
    }
    return RestartReason::chromiumWithoutTheSwitch;
  }
  if (switchedOnNow && (contains(maps, "/libQt5Gui.so") || contains(maps, "/libQt6Gui.so")))
    return RestartReason::qtStartedBeforeTheSwitch;
  return std::nullopt;
}

std::vector<RestartCandidate> runningApplicationsNeedingRestart(bool switchedOnNow, int ownPid,
                                                                const std::string& procRoot) {
  std::vector<RestartCandidate> candidates;
  XConnection x;
  int screenNumber = 0;
  x.connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(x.connection)) return candidates;
  const xcb_setup_t* setup = xcb_get_setup(x.connection);
  auto screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) return candidates;
  const xcb_window_t root = screens.data->root;

  // The window manager's list of client windows; without one, the clients are the root's
  // own children.
  std::vector<xcb_window_t> windows;
  const std::string list = property(x.connection, root, atom(x.connection, "_NET_CLIENT_LIST"), kClientListLimit);
  for (std::size_t at = 0; at + 4 <= list.size(); at += 4) {
    xcb_window_t window = 0;
    std::memcpy(&window, list.data() + at, 4);
    windows.push_back(window);
  }
  if (windows.empty()) {
    if (auto* tree = xcb_query_tree_reply(x.connection, xcb_query_tree(x.connection, root), nullptr)) {
      const xcb_window_t* children = xcb_query_tree_children(tree);
      windows.assign(children, children + std::min<int>(xcb_query_tree_children_length(tree), kClientListLimit));
      std::free(tree);
    }
  }
  const xcb_atom_t pidAtom = atom(x.connection, "_NET_WM_PID");
  std::vector<int> seen;
  for (xcb_window_t window : windows) {
    const std::string pidValue = property(x.connection, window, pidAtom, 1);
    if (pidValue.size() < 4) continue;
    uint32_t pid = 0;
    std::memcpy(&pid, pidValue.data(), 4);
    if (pid == 0 || static_cast<int>(pid) == ownPid ||
        std::find(seen.begin(), seen.end(), static_cast<int>(pid)) != seen.end())
      continue;
    seen.push_back(static_cast<int>(pid));

    const std::string process = procRoot + "/" + std::to_string(pid);
    std::error_code error;
    const auto program = std::filesystem::read_symlink(process + "/exe", error);
    const bool chromium = !error && std::filesystem::exists(program.parent_path() / "resources.pak", error) &&
                          std::filesystem::exists(program.parent_path() / "icudtl.dat", error);
    // Qt applications count only when the switch went on now; their maps are read only then.
    const std::string maps = !chromium && switchedOnNow ? qtMapLines(process + "/maps") : std::string();
    const std::string cmdline = chromium ? readBounded(process + "/cmdline", kCommandLineReadLimit) : std::string();
    const auto reason = restartReason(maps, cmdline, chromium, switchedOnNow);
    if (!reason) continue;
    const std::string wmClass = property(x.connection, window, XCB_ATOM_WM_CLASS, 64);
    const std::size_t split = wmClass.find('\0');
    std::string name = split == std::string::npos ? wmClass : std::string(wmClass.c_str() + split + 1);
    if (name.empty()) name = program.filename().string();
    if (std::none_of(candidates.begin(), candidates.end(), [&](const auto& c) { return c.name == name; }))
      candidates.push_back({name, *reason});
  }
  return candidates;
}

}  // namespace sorvane::platform
