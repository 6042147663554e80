#!/bin/bash
# Builds the .deb of this build folder, unpacks it into a temporary folder (as dpkg would
# install it, without touching the system), runs the packaged `sorvane --version`, checks
# the desktop entries and the icon sizes, and prints "package check ok".
set -euo pipefail
build=$1
desktop=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)
dpkg-deb --field "$deb" Package Version Depends
dpkg-deb --field "$deb" Depends | grep -q "libqt6widgets6" || { echo "shlibdeps found no Qt dependency"; exit 1; }
dpkg -x "$deb" "$work/root"
"$work/root/usr/bin/sorvane" --version | grep -E "^sorvane [0-9]+\.[0-9]+\.[0-9]+$"
desktop-file-validate "$desktop"
desktop-file-validate "$work/root/usr/share/applications/sorvane.desktop"
for size in 16 24 32 48 64 128 256; do
  test -s "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/sorvane.png"
done
test -s "$work/root/usr/share/icons/hicolor/scalable/apps/sorvane.svg"
test -s "$work/root/usr/lib/udev/rules.d/70-sorvane-input.rules"
test -s "$work/root/usr/share/man/man1/sorvane.1.gz" || test -s "$work/root/usr/share/man/man1/sorvane.1"
echo "package check ok"
