#!/usr/bin/env bash
# End to end: the desktop app under a private virtual X server with a tray host.
# It starts, shows its tray icon, refuses a second instance, opens its menu on a click
# and quits from "Quit Mirla". Without any display it exits with a clear message.
set -euo pipefail
app="$1"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # wait_for <seconds> <command...>
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}
fail() { echo "FAIL: $*"; exit 1; }

# A temporary home with its own log: the test touches nothing outside $work.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" SORVANE_LOG_FILE="$work/home/sorvane.log"
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
log="$SORVANE_LOG_FILE"

# No display: a clear message and a non-zero status, not a crash.
set +e
message="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" 2>&1)"
status=$?
set -e
[ "$status" -ne 0 ] && [ "$status" -lt 128 ] || fail "no-display exit status $status"
grep -q "no desktop session" <<<"$message" || fail "no-display message: $message"

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

new_log() { cat "$log" 2>/dev/null; }

"$app" &
app_pid=$!
pids+=($app_pid)
wait_for 15 grep -q 'app launched' "$log" || fail "no 'app launched' line"
icon_visible() { xdotool search --onlyvisible --class sorvane >/dev/null 2>&1; }
wait_for 15 icon_visible || fail "tray icon not shown"

# A second instance terminates itself at once.
timeout 20 "$app" || fail "second instance exit status $?"
new_log | grep -q "another instance exists; terminating this instance" || fail "no second-instance line"
kill -0 "$app_pid" || fail "first instance died"

icon="$(xdotool search --onlyvisible --class sorvane | head -1)"
xdotool mousemove --window "$icon" 8 8 click 1
menu_open() { [ "$(xdotool search --onlyvisible --class sorvane | wc -l)" -ge 2 ]; }
wait_for 10 menu_open || fail "menu did not open"
menu="$(xdotool search --onlyvisible --class sorvane | grep -v "^$icon\$" | head -1)"
xdotool mousemove --window "$menu" 30 10 click 1
wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "app did not quit from the menu"
wait "$app_pid" || fail "app exit status $?"
echo "desktop e2e ok"
