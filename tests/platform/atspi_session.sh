#!/bin/bash
# Runs a command in an X server, a D-Bus session and an AT-SPI bus of its own, with the
# paths of the GTK 3 and Qt fixture windows in SORVANE_ATSPI_GTK_FIXTURE and
# SORVANE_ATSPI_QT_FIXTURE: the accessibility adapter tests and the collection benchmark.
# The bus's IsEnabled switch is set to true before the command runs, and Qt applications
# are told to expose their widgets regardless; with SORVANE_ATSPI_SWITCH=off the switch is
# set to false instead and Qt is told nothing, as on a desktop where nothing turned
# accessibility on (the test of the app's own switch).
#   atspi_session.sh <atspi_gtk_fixture.py> <sorvane_atspi_qt_fixture> <command> [arguments...]
set -u
gtk_fixture=$1
qt_fixture=$2
shift 2
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../support/desktop_session.sh"
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

if ! desktop_xvfb pids "$work" -noreset; then
  echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
export HOME="$work" XDG_RUNTIME_DIR="$work" NO_AT_BRIDGE=0 GTK_A11Y=atspi
export SORVANE_ATSPI_DESKTOP=1 SORVANE_ATSPI_GTK_FIXTURE="$gtk_fixture" SORVANE_ATSPI_QT_FIXTURE="$qt_fixture"
export SORVANE_ATSPI_SWITCH=${SORVANE_ATSPI_SWITCH:-on}
if [ "$SORVANE_ATSPI_SWITCH" = on ]; then
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
else
  unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON
fi
chmod 700 "$work"

# Everything that talks to the buses runs inside the one session; the bus launcher (and the
# registry it starts) ends with it.
dbus-run-session -- bash -c '
  launcher=/usr/libexec/at-spi-bus-launcher
  [ -x "$launcher" ] || launcher=/usr/lib/at-spi2-core/at-spi-bus-launcher
  "$launcher" --launch-immediately &
  launcher_pid=$!
  trap "kill $launcher_pid 2>/dev/null; wait $launcher_pid 2>/dev/null" EXIT
  for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
    sleep 0.1
  done
  enabled=true
  [ "$SORVANE_ATSPI_SWITCH" = on ] || enabled=false
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:IsEnabled variant:boolean:$enabled >/dev/null
  "$@"
' atspi-session "$@"
