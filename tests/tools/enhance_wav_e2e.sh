#!/bin/sh
# --enhance-wav end to end on real speech: espeak-ng's voice at 16 kHz through the built
# executable. Prints "enhance-wav e2e ok" when every step held.
#   enhance_wav_e2e.sh <sorvane executable>
set -eu
sorvane="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" SORVANE_LOG_FILE="$work/sorvane.log"

fail() { echo "enhance-wav e2e failed: $*"; exit 1; }

espeak-ng -w "$work/raw.wav" "Please keep the last words of this sentence." || fail "espeak-ng"
sox "$work/raw.wav" -r 16000 -c 1 -b 16 -e signed-integer "$work/speech.wav" || fail "sox"

"$sorvane" --enhance-wav "$work/speech.wav" --out "$work/out/nested/default.wav" || fail "default run status $?"
"$sorvane" --out "$work/five.wav" --chunk-ms 5 --enhance-wav "$work/speech.wav" || fail "--chunk-ms 5 status $?"
"$sorvane" --enhance-wav "$work/speech.wav" --out "$work/abc.wav" --chunk-ms abc || fail "--chunk-ms abc status $?"

# Header lengths equal the input's even data length; chunking changes the result; a
# non-numeric chunk length means the default.
python3 - "$work" <<'PY' || fail "output check"
import struct, sys
work = sys.argv[1]
def parse(path):
    b = open(path, "rb").read()
    riff, = struct.unpack_from("<I", b, 4)
    rate, = struct.unpack_from("<I", b, 24)
    data_len, = struct.unpack_from("<I", b, 40)
    assert b[0:4] == b"RIFF" and b[8:12] == b"WAVE" and b[36:40] == b"data", path
    assert riff == data_len + 36 and len(b) == 44 + data_len, path
    return rate, b[44:]
rate, speech = parse(work + "/speech.wav")
rate_out, default = parse(work + "/out/nested/default.wav")
_, five = parse(work + "/five.wav")
_, abc = parse(work + "/abc.wav")
assert rate == rate_out == 16000
assert len(default) == len(five) == len(speech) & ~1
assert default != speech, "the enhancer changed nothing"
assert default != five, "2048- and 320-byte chunks gave the same result"
assert default == abc, "a non-numeric chunk length is not the default"
PY

set +e
"$sorvane" --enhance-wav "$work/speech.wav" 2>"$work/usage.txt"; status=$?
set -e
[ "$status" -eq 2 ] || fail "usage status $status"
grep -qx "Usage: Sorvane --enhance-wav input.wav --out output.wav \[--chunk-ms 64\]" "$work/usage.txt" || fail "usage text"
printf 'RIFF' > "$work/short.wav"
set +e
"$sorvane" --enhance-wav "$work/short.wav" --out "$work/x.wav" 2>"$work/error.txt"; status=$?
set -e
[ "$status" -eq 1 ] || fail "bad input status $status"
grep -qx "enhance-wav failed: not a WAV file" "$work/error.txt" || fail "bad input text"
echo "enhance-wav e2e ok"
