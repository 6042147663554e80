#!/bin/sh
# The --bench tool end to end, offline: the example manifest with the local-guard profile
# in a temporary home, then the usage and manifest failures.
#   bench_e2e.sh <sorvane> <manifest>
set -u
sorvane=$1 manifest=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
run() { HOME="$home" SORVANE_LOG_FILE="$home/sorvane.log" "$sorvane" "$@"; }
fail() { echo "bench e2e failed: $*"; exit 1; }

summary=$(run --bench "$manifest" --out "$home/results.jsonl" --profile local-guard) || fail "status $?"
samples=$(grep -c '"id"' "$manifest")
[ "$(wc -l <"$home/results.jsonl")" -eq "$samples" ] || fail "expected $samples result lines"
[ "$(grep -c '"provider":"local-guard"' "$home/results.jsonl")" -eq "$samples" ] || fail "provider"
case "$summary" in "bench summary samples=$samples "*) ;; *) fail "summary: $summary" ;; esac

run --bench "$manifest" 2>"$home/usage" && fail "no --out accepted"
[ $? -eq 2 ] || fail "usage status"
grep -q '^Usage: Sorvane --bench manifest.json --out results.jsonl' "$home/usage" || fail "usage line"

echo '[]' >"$home/array.json"
run --bench "$home/array.json" --out "$home/failed.jsonl" 2>/dev/null
[ $? -eq 4 ] || fail "manifest status"
grep -q '"reason":"Invalid manifest"' "$home/failed.jsonl" || fail "failure line"
echo "bench e2e ok"
