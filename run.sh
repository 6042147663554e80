#!/usr/bin/env bash
# Builds Sorvane if needed and runs it with the given arguments
# (no arguments: the desktop app; see --help for the tools and self-checks).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
if [ ! -f "$root/build/release/build.ninja" ]; then
  cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$root/build/release" --target sorvane >/dev/null
exec "$root/build/release/src/sorvane" "$@"
