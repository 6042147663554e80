#include "context/terminal_windows.h"

#include <algorithm>
#include <array>

#include "core/unicode_text.h"

namespace sorvane {
namespace {

constexpr std::array<std::string_view, 22> kTerminalWindowClasses = {
    "konsole",    "kitty",     "alacritty",   "org.wezfurlong.wezterm", "wezterm",      "tilix",
    "terminator", "urxvt",     "rxvt",        "st",           "st-256color",   "foot",
    "footclient", "terminology", "guake",     "yakuake",      "sakura",        "kgx",
    "org.gnome.console", "ptyxis", "org.gnome.ptyxis", "cool-retro-term"};

constexpr std::array<std::string_view, 2> kShiftInsertWindowClasses = {"xterm", "uxterm"};

bool isOneOf(const std::string& name, const auto& names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

bool pastesWithShiftInsert(std::string_view name) {
  return isOneOf(text::toLower(name), kShiftInsertWindowClasses);
}

bool isTerminalWindowClass(std::string_view name) {
  const std::string lower = text::toLower(name);
  return isOneOf(lower, kShiftInsertWindowClasses) || isOneOf(lower, kTerminalWindowClasses) ||
         lower.find("terminal") != std::string::npos;
}

}  // namespace sorvane
