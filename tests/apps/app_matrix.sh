#!/usr/bin/env bash
# Dictation into real applications from Debian, one row each, on a private desktop built
# from real parts (tests/app/turn_session.sh): Xvfb, a D-Bus session and AT-SPI bus whose
# accessibility switch starts off (the app turns it on, and the applications start after),
# the pipe microphone, and the loopback recogniser and chat server. Per row:
#   - two turns in a row land exactly in the application's field, each "pasted";
#   - the start context found the field (the paste target is not a guess);
#   - the user's clipboard is back after each turn;
#   - the Alt taps left the focus where it was: no menu bar took it;
# and the everyday Control shortcuts start nothing and show nothing.
# Text is read back through AT-SPI (fixtures/atspi_focus.py), or for terminals from the
# file their `cat` writes.
#   app_matrix.sh <sorvane> <loopback realtime server> <loopback llm server> [row...]
set -euo pipefail
app="$1" realtime_server="$2" llm_server="$3"
shift 3
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
fixtures="$here/../app/fixtures"
matrix_fixtures="$here/fixtures"
source "$here/../app/turn_session.sh"

SESSION_ACCESSIBILITY=off session_begin
speech="$session_work/speech.raw"
transcript="我们明天讨论一下 API 的设计"
session_speech "$transcript" "$speech"
session_services "$transcript" 0 0
session_app
wait_for 10 grep -q 'accessibility enabled org.a11y.Status IsEnabled=true' "$log" || fail "the app did not switch accessibility on"

focus_of() { timeout 20 /usr/bin/python3 "$matrix_fixtures/atspi_focus.py" "$1" 2>/dev/null || echo '{}'; }
focus_role() { json_field "$(focus_of "$1")" 'd.get("role", "")'; }
focus_text() { json_field "$(focus_of "$1")" 'd.get("text", "")'; }
count_of() { /usr/bin/python3 -c 'import sys; print(sys.argv[1].count(sys.argv[2]))' "$1" "$2"; }
expected="讨论一下 API 的设计"

# focus_window --name|--class <pattern>: the newest visible window that matches, focused,
# within 30 s.
focus_window() {
  local window
  window="$(timeout 30 xdotool search --sync --onlyvisible "$1" "$2" | tail -n1)"
  [ -n "$window" ] || return 1
  timeout 10 xdotool windowfocus --sync "$window"
}

# text_holds <n> <reader command...>: waits up to 15 s for n dictated texts in the field.
text_holds() {
  local n="$1" deadline=$((SECONDS + 15))
  shift
  until [ "$(count_of "$("$@")" "$expected")" -ge "$n" ]; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# row_turns <row> <reader command...>: two turns; the reader prints the field's text.
row_turns() {
  local row="$1" i line text latencies=()
  shift
  for i in 1 2; do
    printf 'kept on the clipboard %s' "$row" | xclip -selection clipboard
    session_turn "$speech"
    text_holds "$i" "$@" || fail "$row: turn $i did not land: $("$@")"
    line="$(tail -n1 "$metrics_file")"
    [ "$(json_field "$line" 'd["values"]["status"]')" = pasted ] || fail "$row: turn $i status: $line"
    [ "$(json_field "$line" 'd["values"]["pasteTargetReason"]')" = focused-text-role ] ||
      fail "$row: turn $i found no field at its start: $line"
    # From the stop tap to the application reading our text off the clipboard.
    latencies+=("$(json_field "$line" 'd["marks"]["pasteDone"] - '"$turn_stop_at")")
    wait_for 5 bash -c '[ "$(timeout 5 xclip -o -selection clipboard)" = "kept on the clipboard '"$row"'" ]' ||
      fail "$row: clipboard not restored after turn $i: $(clipboard)"
  done
  text="$("$@")"
  [ "$(count_of "$text" "$expected")" -eq 2 ] || fail "$row: the field holds: $text"
  echo "$row ok: stop tap -> text fetched ${latencies[*]} ms"
}

# role_is <seconds> <bus name> <role>: waits until the application's focused element has it.
role_is() {
  local deadline=$((SECONDS + $1))
  until [ "$(focus_role "$2")" = "$3" ]; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.3
  done
}

# The focused element's role after the last tap is still the one found before the first.
check_focus_kept() {  # check_focus_kept <row> <bus name> <role before>
  local after
  after="$(focus_role "$2")"
  [ "$after" = "$3" ] || fail "$1: the focus moved from $3 to $after (a menu took the tap?)"
}

row_mousepad() {
  mousepad --disable-server >/dev/null 2>&1 &
  session_pids+=($!)
  focus_window --class mousepad || fail "mousepad did not show"
  role_is 20 mousepad text || fail "mousepad exposes no focused text: $(focus_of mousepad)"
  row_turns mousepad focus_text mousepad
  check_focus_kept mousepad mousepad text
}

# terminal_row <row> <window title> <command...>: a terminal whose cat writes to a file.
typed_of() { cat "$session_work/$1.typed" 2>/dev/null; }
terminal_row() {
  local row="$1" title="$2"
  shift 2
  "$@" &
  session_pids+=($!)
  # cat has started once the file exists: the terminal is up and can take the focus.
  wait_for 20 test -e "$session_work/$row.typed" || fail "$row did not start"
  focus_window --name "^$title\$" || fail "$row did not show"
  sleep 0.5
  row_turns "$row" typed_of "$row"
}
# Without canonical mode cat gets the pasted bytes at once, no Return needed.
cat_into() { echo "stty -icanon -echo; exec cat > '$session_work/$1.typed'"; }

row_sakura() {  # VTE
  terminal_row sakura sorvane-sakura sakura -t sorvane-sakura -x "sh -c \"$(cat_into sakura)\""
  grep -q 'paste keys sent chord=control+shift+v' "$log" || fail "sakura was not sent Control+Shift+V"
}

row_featherpad() {  # Qt, with a menu bar that a bare Alt would focus
  featherpad --standalone >/dev/null 2>&1 &
  session_pids+=($!)
  focus_window --class featherpad || fail "featherpad did not show"
  role_is 20 featherpad text || fail "featherpad exposes no focused text: $(focus_of featherpad)"
  row_turns featherpad focus_text featherpad
  check_focus_kept featherpad featherpad text
}

row_firefox() {  # a textarea on a local page; a bare Alt would open the menu bar
  local profile="$session_work/firefox-profile" page="$session_work/page.html"
  mkdir -p "$profile"
  printf '%s\n' 'user_pref("browser.shell.checkDefaultBrowser", false);' \
    'user_pref("browser.aboutwelcome.enabled", false);' 'user_pref("datareporting.policy.dataSubmissionEnabled", false);' \
    'user_pref("browser.startup.homepage_override.mstone", "ignore");' 'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);' \
    'user_pref("app.update.auto", false);' 'user_pref("browser.tabs.warnOnClose", false);' >"$profile/user.js"
  printf '%s\n' '<!doctype html><title>sorvane-page</title><textarea id="t" autofocus rows="8" cols="60"></textarea>' >"$page"
  firefox-esr --no-remote --new-instance --profile "$profile" "file://$page" >/dev/null 2>&1 &
  session_pids+=($!)
  focus_window --name 'sorvane-page' || fail "firefox did not show the page"
  role_is 30 firefox entry || fail "firefox exposes no focused field: $(focus_of firefox)"
  row_turns firefox focus_text firefox
  check_focus_kept firefox firefox entry
}

# Everyday Control shortcuts while idle, in the mousepad window: they start nothing and show
# nothing (no palette, no turn).
row_shortcuts() {
  mousepad --disable-server >/dev/null 2>&1 &
  session_pids+=($!)
  focus_window --class mousepad || fail "mousepad did not show"
  local starts turns
  starts="$(grep -c 'start requested' "$log" || true)"
  turns="$(metrics_count)"
  xdotool key ctrl+a ctrl+c ctrl+2 ctrl+z
  xdotool keydown ctrl click 1 sleep 0.1 click 1 keyup ctrl
  xdotool key ctrl+s sleep 0.5 key Escape
  sleep 1  # past every tap window and the palette's hold
  [ "$(grep -c 'start requested' "$log" || true)" = "$starts" ] || fail "a Control shortcut started a turn"
  grep -q 'style mode palette shown' "$log" && fail "a Control shortcut showed the style palette"
  [ "$(metrics_count)" = "$turns" ] || fail "a Control shortcut ran a turn"
  echo "shortcuts ok"
}

rows=("$@")
[ ${#rows[@]} -eq 0 ] && rows=(mousepad sakura featherpad firefox shortcuts)
for row in "${rows[@]}"; do
  "row_$row"
done
echo "app matrix ok"
