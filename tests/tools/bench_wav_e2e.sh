#!/bin/sh
# --bench over a manifest with one WAV sample, recognised through the realtime client
# against a loopback realtime server started here (a temporary home points the provider
# at it); the local-guard profile keeps refinement offline.
#   bench_wav_e2e.sh <sorvane> <loopback realtime server>
set -u
sorvane=$1 server=$2
home=$(mktemp -d)
trap 'exec 3>&-; rm -rf "$home"' EXIT
fail() { echo "bench wav e2e failed: $*"; exit 1; }
mkdir -p "$home/.sorvane"
fifo="$home/server-input"
mkfifo "$fifo"
"$server" --transcript "今天下午三点开会" --seconds 30 <"$fifo" >"$home/providers.line" &
exec 3>"$fifo"
for _ in $(seq 1 100); do
  [ -s "$home/providers.line" ] && break
  sleep 0.05
done
head -n 1 "$home/providers.line" >"$home/.sorvane/providers.json"
printf 'sk-loopback-dashscope\n' >"$home/.sorvane/dashscope-api-key"
sox -n -r 16000 -c 1 -b 16 "$home/sample.wav" synth 1.2 sine 330 vol 0.3 || fail "sox"
printf '{"samples":[{"id":"wav-1","audioPath":"%s","expected":"今天下午三点开会"}]}\n' "$home/sample.wav" >"$home/manifest.json"

HOME="$home" SORVANE_LOG_FILE="$home/sorvane.log" "$sorvane" --bench "$home/manifest.json" \
  --out "$home/results.jsonl" --profile local-guard >/dev/null || fail "status $?"
cat "$home/results.jsonl"
grep -q '"speechStatus":"final"' "$home/results.jsonl" || fail "speech status"
grep -q '"raw":"今天下午三点开会' "$home/results.jsonl" || fail "raw text"
if grep -q "sk-loopback" "$home/sorvane.log" 2>/dev/null; then fail "a key reached the log"; fi
echo "bench wav e2e ok"
