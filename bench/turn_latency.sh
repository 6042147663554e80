#!/usr/bin/env bash
# Stop-to-text latency of whole turns, and the idle cost of the running app.
#
#   bench/turn_latency.sh <build dir> [turns] [application]   (default 25 turns)
#
# Without an application the turns go into our GTK test entry and the end is the entry's
# change. With one (a row of tests/apps/app_rows.sh: mousepad, sakura, xterm, qterminal,
# featherpad, writer, firefox, firefox_address, chromium) they go into that real
# application, and the end is the moment it fetched our text off the clipboard (the
# turn's "pasteDone" mark): what it does with the text after that is its own time.
#
# The same real parts as the whole-turn test (tests/app/turn_session.sh): a GTK entry in
# front over AT-SPI, espeak-ng speech through a PulseAudio pipe microphone, and the loopback
# services with fixed think times: the recogniser's completed transcript 150 ms after the
# commit, the chat model's answer 200 ms after the request. For each turn it takes the
# time from the stop tap (just before xdotool sends it) to the entry's change, and the
# share of it that is ours: the total minus the two services' delays and the fixed waits
# the turn makes by design (the tail cutoff drain and the commit delay, read from the
# turn's metrics). Reports median and 90th percentile, and where our share went.
#
# Before the turns, with the app started and nothing running, it reports resident memory,
# threads and wake-ups per second (context switches of all the app's threads over 10 s).
set -euo pipefail
build="$(cd "$1" && pwd)"
turns="${2:-25}"
application="${3:-}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
app="$build/src/sorvane"
realtime_server="$build/tests/support/sorvane_loopback_realtime_server"
llm_server="$build/tests/support/sorvane_loopback_llm_server"
fixtures="$here/tests/app/fixtures"
for program in "$app" "$realtime_server" "$llm_server"; do
  [ -x "$program" ] || { echo "missing $program: build the sorvane and loopback server targets first"; exit 2; }
done
source "$here/tests/app/turn_session.sh"

recogniser_delay_ms=150
model_delay_ms=200
session_begin
speech="$session_work/speech.raw"
session_speech "我们明天讨论一下 API 的设计" "$speech"
session_services "我们明天讨论一下 API 的设计" "$recogniser_delay_ms" "$model_delay_ms"
session_app
if [ -n "$application" ]; then
  source "$here/tests/apps/app_rows.sh"
  declare -F "open_$application" >/dev/null || { echo "unknown application $application"; exit 2; }
  app_open "$application"
else
  session_field entry
fi

# Idle cost: the app started, its start sequence done, no turn running.
sleep 2
switches() { cat /proc/"$app_pid"/task/*/status 2>/dev/null | awk '/ctxt_switches/ {s += $2} END {print s}'; }
first="$(switches)"
sleep 10
last="$(switches)"
rss_kib="$(awk '/VmRSS/ {print $2}' /proc/"$app_pid"/status)"
threads="$(awk '/Threads/ {print $2}' /proc/"$app_pid"/status)"
echo "idle: resident ${rss_kib} KiB, ${threads} threads, $(((last - first) / 10)) wake-ups/s ($((last - first)) context switches in 10 s, $last since start)"

results="$session_work/results.txt"
: >"$results"
for ((turn = 1; turn <= turns; turn++)); do
  if [ -z "$application" ]; then
    field_say clear
    wait_for 5 bash -c "tail -n1 '$field_out' | grep -q '^cleared'" || fail "the entry did not clear"
    mark="$(wc -l <"$field_out")"
  fi
  session_turn "$speech" 1.2
  status="$(tail -n1 "$metrics_file" | /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.stdin.read())["values"].get("status"))')"
  if [ "$status" != pasted ]; then
    # Counted, not timed: under load the accessibility tree can answer too slowly for the
    # start collection to find the entry, and the turn goes to the copy panel.
    echo "$status" >>"$session_work/missed.txt"
    printf '\rturn %d/%d' "$turn" "$turns" >&2
    sleep 1
    continue
  fi
  if [ -n "$application" ]; then
    text_at="$(tail -n1 "$metrics_file" | /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.stdin.read())["marks"]["pasteDone"])')"
  else
    wait_for 10 bash -c "tail -n +$((mark + 1)) '$field_out' | grep -q '^text=\"[^\"]'" || fail "turn $turn pasted nothing"
    text_at="$(tail -n +$((mark + 1)) "$field_out" | grep -m1 '^text="[^"]' | sed 's/.* at=//')"
  fi
  tail -n1 "$metrics_file" | /usr/bin/python3 -c '
import json, sys
d = json.loads(sys.stdin.read())
m, v = d["marks"], d["values"]
stop_at, text_at, asr, model = (int(x) for x in sys.argv[1:5])
fixed = int(v.get("cutoffDrainMs", 0)) + int(v.get("qwenCommitDelayMs", 0))
total = text_at - stop_at
print(total, total - asr - model - fixed, m["stopRequested"] - stop_at, fixed,
      m["speechStopped"] - m["stopRequested"], m["refineDone"] - m["refineStart"], text_at - m["pasteStart"])
' "$turn_stop_at" "$text_at" "$recogniser_delay_ms" "$model_delay_ms" >>"$results" || fail "turn $turn"
  sleep 1  # a user reads what landed before the next turn
  printf '\rturn %d/%d' "$turn" "$turns" >&2
done
echo >&2
[ -s "$session_work/missed.txt" ] && echo "turns not pasted (left out of the figures): $(sort "$session_work/missed.txt" | uniq -c | xargs)"

/usr/bin/python3 - "$results" "$application" <<'PY'
import statistics, sys
rows = [list(map(int, line.split())) for line in open(sys.argv[1])]
target = sys.argv[2] or "the entry"
names = ["stop tap -> text in " + target, "  our share (minus services and fixed waits)",
         "  tap -> stop requested", "  fixed waits (drain + commit delay)",
         "  stop requested -> transcript", "  refinement (model call)", "  paste start -> text in " + target]
def pct(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(q * (len(values) - 1))))]
print("%d turns, recogniser final +150 ms, model +200 ms (ms)" % len(rows))
print("%-46s %8s %8s" % ("", "median", "p90"))
for i, name in enumerate(names):
    column = [r[i] for r in rows]
    print("%-46s %8d %8d" % (name, statistics.median(column), pct(column, 0.9)))
PY
