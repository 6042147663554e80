// Terminal emulators by their window class: the paste target finder treats a focused
// terminal window as a place to paste even when its accessibility tree names no text
// field (Qt and VTE terminals often report the tab bar), and the inserter picks the
// terminal's paste chord. Pure; any queue.
#pragma once

#include <string_view>

namespace sorvane {

// Matched without case: the known names exactly, and any name containing "terminal"
// (gnome-terminal, xfce4-terminal, qterminal, io.elementary.terminal, ...).
bool isTerminalWindowClass(std::string_view name);
// Terminals whose keyboard paste is Shift+Insert from PRIMARY: in xterm Control+Shift+V
// types a literal ^V.
bool pastesWithShiftInsert(std::string_view name);

}  // namespace sorvane
