#!/bin/bash
# Runs the X11 adapter tests (paste, clipboard, key taps, hotkeys) in an X server of their
# own: they own the clipboard, move the keyboard focus and press keys, which would
# disturb (and be disturbed by) other tests sharing the test command's X server.
#   x11_desktop_tests.sh <sorvane_platform_tests> <x11_fixture.py> <sorvane_atspi_qt_fixture>
set -u
tests=$1
fixture=$2
export SORVANE_ATSPI_QT_FIXTURE=$3
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../support/desktop_session.sh"
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

# -noreset keeps the server (and the clipboard state) when the last client disconnects.
if ! desktop_xvfb pids "$work" -noreset; then
  echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
export SORVANE_PRIVATE_X_SERVER=1 SORVANE_X11_FIXTURE="$fixture" HOME="$work" XDG_RUNTIME_DIR="$work"
chmod 700 "$work"
"$tests" --gtest_filter='PasteIntoWindows.*:X11Keyboard.*:ClipboardSnapshot.*'
