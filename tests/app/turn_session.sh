# Sourced by the whole-turn test and the turn latency benchmark: a private desktop for
# the app, built from real parts. Functions:
#   session_begin            a temporary home, a virtual X server, a D-Bus session and an
#                            AT-SPI bus of its own (accessibility on, unless
#                            SESSION_ACCESSIBILITY=off), a PulseAudio server whose default
#                            source is a pipe fed by mic_feeder.py (silence until told to speak)
#   session_services TEXT FINAL_DELAY_MS MODEL_DELAY_MS|down
#                            the loopback realtime recogniser (answering TEXT) and the
#                            loopback chat server (echoing the raw text) named in
#                            providers.json, with key files; "down": the chat address is a
#                            closed port
#   session_app              starts the app (--background) and waits until it is ready
#   session_field entry|plain  a GTK window in front (the entry focused); its lines go to
#                            $field_out, and `field_say clear` talks to it
#   session_turn SPEECH_RAW [SECONDS]  two Alt taps around speech written into the mic;
#                            waits until the turn's metrics are written
#   json_field JSON EXPR     prints EXPR, a Python expression over the parsed line `d`
#   clipboard                the CLIPBOARD selection's text
#   session_end              stops everything (also run on exit); with SORVANE_KEEP_LOG set
#                            to a file, the app's log is copied there first
# Needs: $app, $realtime_server, $llm_server, $fixtures (the folder of this file's fixtures).
# Also brings in the desktop pieces of tests/support/desktop_session.sh (wait_for, ...).
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../support/desktop_session.sh"
session_pids=()
session_work=""

fail() { echo "FAIL: $*"; [ -n "$session_work" ] && [ -f "$log" ] && { echo "--- app log"; tail -n 60 "$log"; }; exit 1; }

now_ms() { date +%s%3N; }

json_field() {  # json_field <json line> <python expression over d>
  /usr/bin/python3 -c 'import json,sys; d=json.loads(sys.argv[1]); print(eval(sys.argv[2]))' "$1" "$2"
}
clipboard() { timeout 5 xclip -o -selection clipboard 2>/dev/null; }

session_end() {
  local i
  # SORVANE_KEEP_LOG=<file>: keep the app's log of the run, for looking into a failure.
  [ -n "${SORVANE_KEEP_LOG:-}" ] && [ -n "$session_work" ] && cp "$log" "$SORVANE_KEEP_LOG" 2>/dev/null
  # Last started first: the app goes before the buses and the X server it uses.
  for ((i = ${#session_pids[@]} - 1; i >= 0; i--)); do
    kill "${session_pids[i]}" 2>/dev/null || true
    wait "${session_pids[i]}" 2>/dev/null || true
  done
  session_pids=()
  [ -n "$session_work" ] && rm -rf "$session_work"
  session_work=""
}

session_begin() {
  session_work="$(mktemp -d)"
  trap session_end EXIT
  desktop_home "$session_work"
  unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
  mkdir -p "$HOME/.sorvane"
  history_file="$HOME/.local/share/Mirla/history.jsonl"
  metrics_file="$HOME/.local/state/Sorvane/turns.jsonl"

  desktop_xvfb session_pids "$session_work" -noreset || fail "Xvfb did not start"

  # A D-Bus session and an accessibility bus of our own, with accessibility switched on,
  # so the app reads the GTK field the way it would on a desktop.
  local address
  address="$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"$session_work/dbus.pid")" ||
    fail "dbus-daemon did not start"
  session_pids+=("$(cat "$session_work/dbus.pid")")
  export DBUS_SESSION_BUS_ADDRESS="$address" NO_AT_BRIDGE=0 GTK_A11Y=atspi
  local launcher=/usr/libexec/at-spi-bus-launcher
  [ -x "$launcher" ] || launcher=/usr/lib/at-spi2-core/at-spi-bus-launcher
  "$launcher" --launch-immediately >/dev/null 2>&1 &
  session_pids+=($!)
  wait_for 10 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null 2>&1 || fail "the AT-SPI bus did not start"
  # SESSION_ACCESSIBILITY=off leaves the switch as a user's desktop has it: off, for the
  # app to turn on.
  if [ "${SESSION_ACCESSIBILITY:-on}" = on ]; then
    dbus-send --session --type=method_call --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
      string:org.a11y.Status string:IsEnabled variant:boolean:true
  fi

  desktop_pulseaudio session_pids "$session_work" || fail "PulseAudio did not start"
  mkfifo "$session_work/mic.commands"
  /usr/bin/python3 "$fixtures/mic_feeder.py" "$session_work/mic.fifo" <"$session_work/mic.commands" &
  session_pids+=($!)
  exec 8>"$session_work/mic.commands"
}

# The raw 16 kHz PCM of espeak-ng saying TEXT.
session_speech() {  # session_speech <text> <output.raw>
  espeak-ng -v zh -w "$session_work/speech.wav" "$1" || fail "espeak-ng failed"
  sox "$session_work/speech.wav" -r 16000 -c 1 -b 16 -e signed -t raw "$2" || fail "sox failed"
}

session_services() {  # session_services <transcript> <final delay ms> <model delay ms|down>
  rm -f "$session_work/services.hold" && mkfifo "$session_work/services.hold"
  "$realtime_server" --transcript "$1" --final-delay-ms "$2" --seconds 3600 \
    <"$session_work/services.hold" >"$session_work/realtime.json" &
  session_pids+=($!)
  local model_delay="$3"
  [ "$model_delay" = down ] && model_delay=0
  "$llm_server" --delay-ms "$model_delay" --seconds 3600 <"$session_work/services.hold" >"$session_work/llm.json" &
  session_pids+=($!)
  exec 9>"$session_work/services.hold"
  wait_for 10 test -s "$session_work/realtime.json" || fail "the loopback recogniser did not start"
  wait_for 10 test -s "$session_work/llm.json" || fail "the loopback chat server did not start"
  /usr/bin/python3 - "$session_work/realtime.json" "$session_work/llm.json" "$3" >"$HOME/.sorvane/providers.json" <<'PY'
import json, sys
realtime = json.loads(open(sys.argv[1]).readline())
llm = json.loads(open(sys.argv[2]).readline())
if sys.argv[3] == "down":  # a closed loopback port: every model request fails at once
    llm = {name: {"baseURL": "http://127.0.0.1:9"} for name in llm}
llm["dashscope"].update(realtime["dashscope"])
print(json.dumps(llm))
PY
  echo e2e-dashscope-key >"$HOME/.sorvane/dashscope-api-key"
  echo e2e-deepseek-key >"$HOME/.sorvane/deepseek-api-key"
}

session_app() {
  : >"$log"
  "$app" --background &
  app_pid=$!
  session_pids+=($app_pid)
  wait_for 15 grep -q 'permissions mic=true' "$log" || fail "the app did not become ready with a microphone"
}

session_field() {  # session_field entry|plain
  field_out="$session_work/field.out"
  : >"$field_out"
  rm -f "$session_work/field.in" && mkfifo "$session_work/field.in"
  /usr/bin/python3 "$fixtures/turn_text_field.py" "$1" "sorvane-turn-field" <"$session_work/field.in" >"$field_out" 2>/dev/null &
  session_pids+=($!)
  exec 7>"$session_work/field.in"
  wait_for 15 grep -q '^ready' "$field_out" || fail "the text field window did not show"
  local window
  window="$(xdotool search --name '^sorvane-turn-field$' | head -n1)"
  xdotool windowfocus --sync "$window" || fail "could not focus the text field window"
  sleep 0.5  # let the AT-SPI focus event reach the registry
}
field_say() { echo "$1" >&7; }

metrics_count() { [ -f "$metrics_file" ] && wc -l <"$metrics_file" || echo 0; }

session_turn() {  # session_turn <speech.raw> [seconds of speech]
  local before
  before="$(metrics_count)"
  local started
  started="$(grep -c 'speech started' "$log" || true)"
  xdotool key alt
  wait_for 10 bash -c "[ \$(grep -c 'speech started' '$log') -gt $started ]" || fail "an Alt tap did not start the turn"
  echo "say $1" >&8
  sleep "${2:-1.5}"
  turn_stop_at="$(now_ms)"
  xdotool key alt
  wait_for 20 bash -c "[ \$(cat '$metrics_file' 2>/dev/null | wc -l) -gt $before ]" || fail "the turn wrote no metrics"
}
