#!/usr/bin/env bash
# Whole turns end to end, from real parts: a virtual X server, a D-Bus session and AT-SPI
# bus of our own, a PulseAudio microphone fed espeak-ng speech through a pipe, the
# loopback realtime recogniser and chat server named in providers.json, and a GTK entry
# in front. Alt taps (xdotool) start and stop each turn.
#   1. the text lands in the entry, the clipboard holds what it held before, one history
#      line and one "pasted" metrics line, the turn's log lines in order;
#   2. xterm in front, which has no accessibility tree: the text reaches its program
#      through Shift+Insert, and both the clipboard and PRIMARY come back;
#   3. a window without a text field in front: the copy panel and "copy-panel";
#   4. the chat server down: the raw-preserving local text is still pasted;
#   5. the recogniser hears nothing: "empty-transcript" and nothing pasted.
#   turn_e2e.sh <sorvane> <loopback realtime server> <loopback llm server>
set -euo pipefail
app="$1" realtime_server="$2" llm_server="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
fixtures="$here/fixtures"
source "$here/turn_session.sh"

transcript="我们明天讨论一下 API 的设计"
session_begin
speech="$session_work/speech.raw"
session_speech "我们明天讨论一下 API 的设计" "$speech"

last_metrics() { tail -n1 "$metrics_file"; }
field_text() { tail -n1 "$field_out" | sed -n 's/^text=\(.*\) at=[0-9]*$/\1/p' | /usr/bin/python3 -c 'import json,sys; s=sys.stdin.read().strip(); print(json.loads(s) if s else "")'; }
# The log lines matching each pattern, in this order, each after the one before.
lines_in_order() {
  /usr/bin/python3 - "$log" "$@" <<'PY'
import re, sys
lines = open(sys.argv[1], encoding="utf-8", errors="replace").read().splitlines()
at = 0
for pattern in sys.argv[2:]:
    while at < len(lines) and not re.search(pattern, lines[at]):
        at += 1
    if at == len(lines):
        sys.exit("missing or out of order: " + pattern)
    at += 1
PY
}

restart() {  # restart <transcript> <model delay|down>: new services, the app started anew
  [ -n "${app_pid:-}" ] && { kill -TERM "$app_pid"; wait "$app_pid" || fail "app exit status $?"; }
  exec 9>&-
  rm -f "$session_work/services.hold" "$session_work/realtime.json" "$session_work/llm.json"
  session_services "$1" 0 "$2"
  session_app
}

# 1. A pasted turn.
restart "$transcript" 0
session_field entry
printf 'kept on the clipboard' | xclip -selection clipboard
session_turn "$speech"
wait_for 10 bash -c "grep -q 'API' '$field_out'" || fail "no text reached the entry: $(cat "$field_out")"
pasted="$(field_text)"
line="$(last_metrics)"
[ "$(json_field "$line" 'd["values"]["status"]')" = pasted ] || fail "status: $line"
[[ "$pasted" == *"讨论一下 API 的设计"* ]] || fail "entry holds: $pasted"
wait_for 5 bash -c '[ "$(timeout 5 xclip -o -selection clipboard)" = "kept on the clipboard" ]' ||
  fail "clipboard not restored: $(clipboard)"
[ "$(wc -l <"$history_file")" -eq 1 ] || fail "history lines: $(wc -l <"$history_file")"
[ "$(wc -l <"$metrics_file")" -eq 1 ] || fail "metrics lines: $(wc -l <"$metrics_file")"
history="$(tail -n1 "$history_file")"
[ "$(json_field "$history" 'd["finalText"]')" = "$pasted" ] || fail "history final text: $history"
lines_in_order 'option key single tap' 'recording shown mode=dictation' 'speech started' 'stop requested' \
  'refine start provider=' 'refine done provider=' 'final text provider=' 'metrics wrote' ||
  fail "turn log lines"
echo "pasted turn ok: $pasted"

# 2. xterm in front: no accessibility tree, so the window system names the paste target.
exec 7>&-  # the entry window closes
typed="$session_work/xterm.typed"
printf 'kept in primary' | xclip -selection primary
# Without canonical mode cat gets the pasted bytes at once, no Return needed.
xterm -title sorvane-turn-xterm -e sh -c 'stty -icanon -echo; exec cat > "$0"' "$typed" &
xterm_pid=$!
session_pids+=($xterm_pid)
wait_for 15 test -e "$typed" || fail "xterm did not start"
xdotool windowfocus --sync "$(xdotool search --name '^sorvane-turn-xterm$' | head -n1)" || fail "could not focus xterm"
session_turn "$speech"
wait_for 10 grep -q 'API' "$typed" || fail "no text reached xterm: $(cat "$typed")"
line="$(last_metrics)"
[ "$(json_field "$line" 'd["values"]["status"]')" = pasted ] || fail "status in xterm: $line"
[ "$(json_field "$line" 'd["values"]["pasteTargetReason"]')" = window-without-accessibility ] ||
  fail "paste target in xterm: $line"
[[ "$(cat "$typed")" == *"讨论一下 API 的设计"* ]] || fail "xterm got: $(cat "$typed")"
grep -q 'paste keys sent chord=shift+insert' "$log" || fail "xterm was not sent Shift+Insert"
wait_for 5 bash -c '[ "$(timeout 5 xclip -o -selection clipboard)" = "kept on the clipboard" ]' ||
  fail "clipboard not restored after xterm: $(clipboard)"
wait_for 5 bash -c '[ "$(timeout 5 xclip -o -selection primary)" = "kept in primary" ]' ||
  fail "PRIMARY not restored after xterm: $(timeout 5 xclip -o -selection primary)"
kill "$xterm_pid"
echo "xterm turn ok: $(cat "$typed")"

# 3. No text field in front: the copy panel shows the text and nothing is typed anywhere.
copy_panel_shown() {
  local w
  for w in $(xdotool search --onlyvisible --class sorvane 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "未找到输入框" ] && return 0
  done
  return 1
}
entry_lines="$(wc -l <"$field_out")"
session_field plain
session_turn "$speech"
line="$(last_metrics)"
[ "$(json_field "$line" 'd["values"]["status"]')" = copy-panel ] || fail "status without a field: $line"
wait_for 5 copy_panel_shown || fail "no copy panel"
grep -q 'no focused input; showing copy panel chars=' "$log" || fail "no copy-panel log line"
[ "$(wc -l <"$history_file")" -eq 3 ] || fail "history lines after the copy-panel turn"
echo "copy-panel turn ok"

# 4. The chat server down: the local rules' text, which keeps the raw words, is pasted.
exec 7>&-
restart "$transcript" down
session_field entry
session_turn "$speech"
wait_for 10 bash -c "grep -q 'API' '$field_out'" || fail "nothing pasted with the chat server down"
line="$(last_metrics)"
[ "$(json_field "$line" 'd["values"]["status"]')" = pasted ] || fail "status with the chat server down: $line"
[[ "$(field_text)" == *"讨论一下 API 的设计"* ]] || fail "entry holds with the chat server down: $(field_text)"
grep -q 'refine .*error' "$log" || fail "no refine error line with the chat server down"
echo "chat-server-down turn ok: $(field_text)"

# 5. The recogniser hears nothing: an empty transcript, nothing pasted.
exec 7>&-
restart "" 0
session_field entry
session_turn "$speech"
line="$(last_metrics)"
[ "$(json_field "$line" 'd["values"]["status"]')" = empty-transcript ] || fail "status of an empty transcript: $line"
sleep 0.5
grep -q '^text=' "$field_out" && fail "something was pasted for an empty transcript: $(cat "$field_out")"
[ "$(wc -l <"$history_file")" -eq 4 ] || fail "an empty transcript reached the history"
echo "turn e2e ok"
