#!/bin/bash
# Runs the X11 adapter tests (paste, clipboard, key taps, hotkeys) in an X server of their
# own: they own the clipboard, move the keyboard focus and press keys, which would
# disturb (and be disturbed by) other tests sharing the test command's X server.
#   x11_desktop_tests.sh <sorvane_platform_tests> <x11_fixture.py>
set -u
tests=$1
fixture=$2
work=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT

# -displayfd picks a free display atomically; -noreset keeps the server (and the
# clipboard state) when the last client disconnects.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export SORVANE_PRIVATE_X_SERVER=1 SORVANE_X11_FIXTURE="$fixture" HOME="$work" XDG_RUNTIME_DIR="$work"
chmod 700 "$work"
"$tests" --gtest_filter='PasteIntoWindows.*:X11Keyboard.*:ClipboardSnapshot.*'
