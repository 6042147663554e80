#!/bin/sh
# The live self-checks end to end: a temporary home whose providers.json and key files
# point every model service at a loopback server started here.
#   llm_self_checks_e2e.sh <sorvane> <loopback server> <switch> <expected line prefix>
set -u
sorvane=$1 server=$2 switch=$3 expected=$4
home=$(mktemp -d)
trap 'exec 3>&-; rm -rf "$home"' EXIT
mkdir -p "$home/.sorvane"
fifo="$home/server-input"
mkfifo "$fifo"
# The server lives until its input closes (when this script ends) or 30 s pass.
"$server" --seconds 30 <"$fifo" >"$home/providers.line" &
exec 3>"$fifo"
for _ in $(seq 1 100); do
  [ -s "$home/providers.line" ] && break
  sleep 0.05
done
head -n 1 "$home/providers.line" >"$home/.sorvane/providers.json"
printf 'sk-loopback-deepseek\n' >"$home/.sorvane/deepseek-api-key"
printf 'sk-loopback-dashscope\n' >"$home/.sorvane/dashscope-api-key"
output=$(HOME="$home" SORVANE_LOG_FILE="$home/sorvane.log" "$sorvane" "$switch")
status=$?
printf '%s\nstatus=%s\n' "$output" "$status"
case "$output" in
  "$expected"*) ;;
  *) echo "unexpected output"; exit 1 ;;
esac
if grep -q "sk-loopback" "$home/sorvane.log"; then echo "a key reached the log"; exit 1; fi
[ "$status" -eq 0 ] && echo "llm self-check e2e ok"
