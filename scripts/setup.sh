#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Sorvane needs.
# Idempotent and quiet when everything is present; needs root (or sudo) to install.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang pkg-config ccache
  # libraries
  libicu-dev nlohmann-json3-dev qt6-base-dev qt6-websockets-dev libxcb1-dev
  libx11-dev libxi-dev libxtst-dev libatspi2.0-dev libglib2.0-dev
  libpulse-dev libsoxr-dev libwebrtc-audio-processing-dev libevdev-dev libudev-dev
  # run time: the speech normaliser
  ffmpeg
  # tests, benchmarks, fuzzing (libFuzzer and the sanitizers ship in clang's runtime)
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  # desktop tests under a virtual X server with a tray host, a private D-Bus and AT-SPI bus
  xvfb xauth xdotool trayer x11-utils x11-xserver-utils xclip dbus dbus-x11 at-spi2-core
  python3-gi python3-dbus gir1.2-gtk-3.0
  # a real xterm for the PRIMARY / Shift+Insert paste
  xterm
  # the application matrix: GTK, VTE and Qt editors, a Qt terminal, two browsers (Chromium
  # started from its menu entry by gtk-launch), an office suite, read back through AT-SPI
  mousepad sakura featherpad qterminal firefox-esr chromium libgtk-3-bin libreoffice-writer libreoffice-gtk3
  gir1.2-atspi-2.0
  # audio tests: a private sound server with a pipe source, speech made with espeak-ng
  pulseaudio pulseaudio-utils espeak-ng sox
  # a CJK font, so the interface pictures and widget tests draw Chinese text
  fonts-wqy-microhei
  # packaging: checks, and the icon's PNG sizes rendered from its SVG
  dpkg-dev desktop-file-utils librsvg2-bin
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
