# Real applications from Debian in front of a whole-turn session (tests/app/turn_session.sh
# must be sourced first, and the session begun): `app_open <row>` starts one, focuses its
# field and sets how to read it back:
#   app_reader   the command (an array) that prints the field's text
#   app_bus      the AT-SPI application name whose focus is checked, empty for terminals
#   app_role     the focused element's role while the field has the focus
# Rows: mousepad (GTK), sakura (VTE), xterm (no accessibility tree), qterminal (Qt
# terminal), featherpad (Qt, menu bar), firefox (a textarea on a page), firefox_address
# (its address bar), chromium (started from its menu entry), writer (LibreOffice).
# Sourced by tests/apps/app_matrix.sh and bench/turn_latency.sh.

apps_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
app_page="$session_work/page.html"
printf '%s\n' '<!doctype html><title>sorvane-page</title><textarea id="t" autofocus rows="8" cols="60"></textarea>' >"$app_page"

focus_of() { timeout 20 /usr/bin/python3 "$apps_here/fixtures/atspi_focus.py" "$1" 2>/dev/null || echo '{}'; }
focus_role() { json_field "$(focus_of "$1")" 'd.get("role", "")'; }
focus_text() { json_field "$(focus_of "$1")" 'd.get("text", "")'; }

# focus_window --name|--class <pattern> [seconds]: the newest visible window that matches,
# focused.
focus_window() {
  local window
  window="$(timeout "${3:-30}" xdotool search --sync --onlyvisible "$1" "$2" | tail -n1)"
  [ -n "$window" ] || return 1
  timeout 10 xdotool windowfocus --sync "$window"
}

# role_is <seconds> <bus name> <role>: waits until the application's focused element has it.
role_is() {
  local deadline=$((SECONDS + $1))
  until [ "$(focus_role "$2")" = "$3" ]; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.3
  done
}

# keep_window_process --name|--class <pattern>: the process behind the newest matching
# window is stopped with the session too (a launcher or wrapper may have started it and
# left).
keep_window_process() {
  local pid
  # A matching window that names no process makes xdotool fail; the others still count.
  pid="$(xdotool search --onlyvisible "$1" "$2" getwindowpid 2>/dev/null | tail -n1 || true)"
  [ -n "$pid" ] && session_pids+=("$pid")
  return 0
}

# app_started <command...>: runs it in the background, stopped with the session.
app_started() {
  "$@" >/dev/null 2>&1 &
  session_pids+=($!)
}

# A terminal whose cat writes what it gets to a file; without canonical mode cat gets the
# pasted bytes at once, no Return needed.
typed_of() { cat "$session_work/$1.typed" 2>/dev/null; }
cat_into() { echo "stty -icanon -echo; exec cat > '$session_work/$1.typed'"; }
terminal_open() {  # terminal_open <row> --name|--class <pattern> <command...>
  local row="$1" how="$2" pattern="$3"
  shift 3
  app_started "$@"
  # cat has started once the file exists: the terminal is up and can take the focus.
  wait_for 20 test -e "$session_work/$row.typed" || fail "$row did not start"
  focus_window "$how" "$pattern" || fail "$row did not show"
  sleep 0.5
  app_reader=(typed_of "$row") app_bus="" app_role=""
}

# editor_open <row> <bus> <role> <seconds> --name|--class <pattern> <command...>
editor_open() {
  local row="$1" bus="$2" role="$3" seconds="$4" how="$5" pattern="$6"
  shift 6
  app_started "$@"
  focus_window "$how" "$pattern" "$seconds" ||
    fail "$row did not show within $seconds s; running: $(pgrep -fa -i "$row" | head -3)"
  keep_window_process "$how" "$pattern"
  role_is "$seconds" "$bus" "$role" || fail "$row exposes no focused $role: $(focus_of "$bus")"
  app_reader=(focus_text "$bus") app_bus="$bus" app_role="$role"
}

open_mousepad() { editor_open mousepad mousepad text 20 --class mousepad mousepad --disable-server; }
open_featherpad() { editor_open featherpad featherpad text 20 --class featherpad featherpad --standalone; }
open_sakura() { terminal_open sakura --name '^sorvane-sakura$' sakura -t sorvane-sakura -x "sh -c \"$(cat_into sakura)\""; }
open_xterm() { terminal_open xterm --name '^sorvane-xterm$' xterm -T sorvane-xterm -e sh -c "$(cat_into xterm)"; }
open_qterminal() { terminal_open qterminal --class '^qterminal$' qterminal -e "sh -c \"$(cat_into qterminal)\""; }

firefox_profile() {
  local profile="$session_work/firefox-profile"
  mkdir -p "$profile"
  printf '%s\n' 'user_pref("browser.shell.checkDefaultBrowser", false);' \
    'user_pref("browser.aboutwelcome.enabled", false);' 'user_pref("datareporting.policy.dataSubmissionEnabled", false);' \
    'user_pref("browser.startup.homepage_override.mstone", "ignore");' 'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);' \
    'user_pref("app.update.auto", false);' 'user_pref("browser.tabs.warnOnClose", false);' >"$profile/user.js"
  echo "$profile"
}
open_firefox() {  # a bare Alt would open its menu bar
  editor_open firefox firefox entry 30 --name sorvane-page \
    firefox-esr --no-remote --new-instance --profile "$(firefox_profile)" "file://$app_page"
}
open_firefox_address() {  # the address bar of the Firefox window the firefox row opened
  focus_window --name sorvane-page || open_firefox
  xdotool key ctrl+l
  # Firefox gives its address bar the combo box role.
  role_is 10 firefox "combo box" || fail "the address bar took no focus: $(focus_of firefox)"
  # Empty, so what lands is all it holds.
  xdotool key ctrl+a BackSpace
  app_reader=(focus_text firefox) app_bus=firefox app_role="combo box"
}

# Chromium as users start it: from its menu entry, with no flag typed; the app's launcher
# choice (`sorvane --renderer-accessibility on`, the settings page's check box) put the
# flag into the user's copy of that entry.
open_chromium() {
  local entry="$HOME/.local/share/applications/chromium.desktop"
  "$app" --renderer-accessibility on | grep -q '^exposed  chromium.desktop' ||
    fail "the launcher choice did not expose chromium.desktop"
  grep -q '^Exec=/usr/bin/chromium --force-renderer-accessibility %U$' "$entry" || fail "the launcher: $(cat "$entry")"
  # Chromium refuses to start as root with its sandbox; CI runs the tests as root, a user
  # never does.
  [ "$(id -u)" -eq 0 ] && sed -i 's|^Exec=/usr/bin/chromium |Exec=/usr/bin/chromium --no-sandbox |' "$entry"
  # A fresh profile under the session's home, its first-run page already seen.
  mkdir -p "$HOME/.config/chromium"
  : >"$HOME/.config/chromium/First Run"
  app_started gtk-launch chromium "file://$app_page"
  # Its own window, not the Firefox one of the rows before with the same page.
  focus_window --name 'sorvane-page - Chromium' 40 || fail "chromium did not show the page"
  keep_window_process --name 'sorvane-page - Chromium'
  role_is 40 chromium entry || fail "chromium exposes no focused field: $(focus_of chromium)"
  app_reader=(focus_text chromium) app_bus=chromium app_role=entry
}

open_writer() {
  local profile="$session_work/libreoffice"
  # No tip-of-the-day dialog over the document on the first start.
  mkdir -p "$profile/user"
  cat >"$profile/user/registrymodifications.xcu" <<'XCU'
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/Office"><prop oor:name="ooSetupInstCompleted" oor:op="fuse"><value>true</value></prop></item>
</oor:items>
XCU
  # Its first start makes the profile: slow on a loaded machine.
  editor_open writer soffice paragraph 120 --class libreoffice-writer \
    env SAL_USE_VCLPLUGIN=gtk3 libreoffice --writer --norestore --nologo "-env:UserInstallation=file://$profile"
}

app_open() { "open_$1"; }
