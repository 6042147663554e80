#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Sorvane needs.
# Idempotent and quiet when everything is present; needs root (or sudo) to install.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang pkg-config
  # libraries
  libicu-dev nlohmann-json3-dev qt6-base-dev qt6-websockets-dev libxcb1-dev
  # tests, benchmarks, fuzzing (libFuzzer and the sanitizers ship in clang's runtime)
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  # desktop tests under a virtual X server with a tray host
  xvfb xauth xdotool trayer
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
