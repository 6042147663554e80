#!/usr/bin/env bash
# End to end: the desktop app under a private virtual X server with a tray host.
# It starts with its dashboard, shows its tray icon, answers a second launch by showing
# the dashboard again (the way in without a tray host), opens the dashboard, asks for a
# turn from its menu and an Alt tap (not ready: no microphone, no keys), and quits from
# "Quit Mirla"; started with --background it shows no dashboard and quits on SIGTERM;
# with a private PulseAudio microphone two Alt taps run a whole (empty) turn.
# Without any display
# it exits with a clear message.
set -euo pipefail
app="$1"
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../support/desktop_session.sh"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

# A temporary home with its own log: the test touches nothing outside $work.
desktop_home "$work"

# No display: a clear message and a non-zero status, not a crash.
set +e
message="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" 2>&1)"
status=$?
set -e
[ "$status" -ne 0 ] && [ "$status" -lt 128 ] || fail "no-display exit status $status"
grep -q "no desktop session" <<<"$message" || fail "no-display message: $message"

desktop_xvfb pids "$work" || fail "Xvfb did not start"
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

new_log() { cat "$log" 2>/dev/null; }

"$app" &
app_pid=$!
pids+=($app_pid)
wait_for 15 grep -q 'app launched' "$log" || fail "no 'app launched' line"
# Our visible windows by title: "Mirla" (dashboard), "Sorvane" (tray icon),
# "Mirla recording" (capsule).
window_named() {
  local w
  for w in $(xdotool search --onlyvisible --class sorvane 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
  done
  return 1
}
dashboard_window() { window_named Mirla; }
icon_window() { window_named Sorvane; }
export -f window_named
wait_for 15 window_named Mirla >/dev/null || fail "no dashboard at launch"
wait_for 15 window_named Sorvane >/dev/null || fail "tray icon not shown"
shown_count() { grep -c 'dashboard shown visible=true' "$log" || true; }

close_dashboard() {
  local dash
  dash="$(dashboard_window)"
  [ -n "$dash" ] || return 0
  xdotool windowfocus --sync "$dash" 2>/dev/null || true
  xdotool key ctrl+w
  wait_for 10 bash -c "! window_named Mirla >/dev/null" || fail "dashboard did not close"
}

# A second launch terminates itself at once and the running instance shows its dashboard.
sleep 1  # past the launch's second look at the dashboard (0.6 s)
close_dashboard
before="$(shown_count)"
timeout 20 "$app" || fail "second instance exit status $?"
new_log | grep -q "another instance exists; terminating this instance" || fail "no second-instance line"
kill -0 "$app_pid" || fail "first instance died"
wait_for 10 grep -q "app reopen visibleWindows=false" "$log" || fail "no reopen line"
wait_for 10 window_named Mirla >/dev/null || fail "second launch did not show the dashboard"
[ "$(shown_count)" -gt "$before" ] || fail "no dashboard shown line after the second launch"

# The menu: a click on the icon opens it; keys choose the entries (menu order: Start
# Dictation, Start English Translation, Open Mirla Dashboard, ... Quit Mirla).
# A click the machine lost (seen now and then at the start of a full test run, never in
# runs of this test alone; cause not found) gets one more click, said on the output.
open_menu() {
  local icon windows
  icon="$(icon_window)"
  windows="$(xdotool search --onlyvisible --class sorvane | wc -l)"
  menu_shown() { [ "$(xdotool search --onlyvisible --class sorvane | wc -l)" -gt "$windows" ]; }
  xdotool mousemove --window "$icon" 8 8 click 1
  if ! wait_for 4 menu_shown; then
    echo "menu: no window after the first click; clicking once more"
    xdotool mousemove --window "$(icon_window)" 8 8 click 1
    wait_for 10 menu_shown || fail "menu did not open"
  fi
  sleep 0.3
}
menu_choose() {  # menu_choose <key>...
  open_menu
  xdotool key "$@"
}

close_dashboard
before="$(shown_count)"
menu_choose Down Down Down Return
wait_for 10 window_named Mirla >/dev/null || fail "menu did not open the dashboard"
[ "$(shown_count)" -gt "$before" ] || fail "no dashboard shown line from the menu"

# A turn from the menu and from an Alt tap: with no microphone and no key files the turn
# controller is not ready, asks for the permissions again and starts nothing.
tap_started() { grep -A2 'option key single tap' "$log" | grep -q 'start requested ready=false'; }
menu_choose Down Return
wait_for 10 grep -q "start requested ready=false mode=dictation" "$log" || fail "menu did not ask for a turn"
sleep 0.5  # past the toggle debounce
xdotool key alt
wait_for 10 tap_started || fail "an Alt tap did not ask for a turn"
grep -q "permissions mic=" "$log" || fail "no permissions line"
kill -0 "$app_pid" || fail "app died after the turn requests"
window_named "Mirla recording" >/dev/null && fail "capsule shown without a microphone"

menu_choose Up Return
wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "app did not quit from the menu"
wait "$app_pid" || fail "app exit status $?"

# At login: --background shows no dashboard; SIGTERM quits through the event loop.
: >"$log"
"$app" --background &
app_pid=$!
pids+=($app_pid)
wait_for 15 grep -q 'permissions mic=' "$log" || fail "background start did not finish its start sequence"
sleep 1  # past the launch's second look at the dashboard (0.6 s)
window_named Mirla >/dev/null && fail "--background showed the dashboard"
grep -q 'dashboard shown' "$log" && fail "--background logged a dashboard"
kill -TERM "$app_pid"
wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "app did not quit on SIGTERM"
wait "$app_pid" || fail "SIGTERM exit status $?"
grep -q "quit requested signal=SIGTERM" "$log" || fail "no SIGTERM line"
# One turn through the real capture path: a private PulseAudio server whose default
# source is a pipe of silence, a key file, and recogniser and model addresses on a closed
# loopback port. Two Alt taps record and stop; the turn ends as "empty-transcript".
if command -v pulseaudio >/dev/null; then
  mkdir -p "$HOME/.sorvane"
  printf '%s' '{"dashscope":{"realtimeURL":"ws://127.0.0.1:9/realtime","baseURL":"http://127.0.0.1:9"}}' \
    >"$HOME/.sorvane/providers.json"
  echo e2e-key >"$HOME/.sorvane/dashscope-api-key"
  desktop_pulseaudio pids "$work" || fail "PulseAudio did not start"
  (while sleep 0.05; do head -c 1600 /dev/zero; done >"$work/mic.fifo") 2>/dev/null &
  pids+=($!)
  : >"$log"
  "$app" --background &
  app_pid=$!
  pids+=($app_pid)
  wait_for 15 grep -q 'permissions mic=true' "$log" || fail "microphone not granted"
  sleep 0.5
  xdotool key alt
  wait_for 10 grep -q 'speech started' "$log" || fail "an Alt tap did not start the capture"
  sleep 1
  xdotool key alt
  wait_for 10 grep -q 'stop requested' "$log" || fail "the second Alt tap did not stop"
  wait_for 15 grep -q 'metrics wrote' "$log" || fail "the turn wrote no metrics"
  grep -q '"status":"empty-transcript"' "$HOME"/.local/state/Sorvane/turns.jsonl || fail "turn status"
  ls "$HOME"/.local/share/Mirla/audio/*.wav >/dev/null || fail "no archived audio"
  window_named "Mirla recording" >/dev/null && fail "capsule left on screen"
  kill -TERM "$app_pid"
  wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "app did not quit on SIGTERM after a turn"
  wait "$app_pid" || fail "exit status after a turn $?"
else
  echo "pulseaudio not installed: the capture turn is skipped"
fi
echo "desktop e2e ok"
