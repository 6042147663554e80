# Sourced by the scripts that run the app or the adapter tests on a desktop of their own
# (the desktop and whole-turn end-to-end tests, the X11 and AT-SPI adapter sessions, the
# turn latency benchmark): the pieces of such a desktop. Functions:
#   wait_for SECONDS COMMAND...  runs COMMAND until it succeeds; non-zero when SECONDS
#                                pass first
#   desktop_home FOLDER          a home of its own in FOLDER/home, a runtime folder in
#                                FOLDER/run and the app's log in $log (SORVANE_LOG_FILE)
#   desktop_xvfb PIDS FOLDER [OPTIONS...]
#                                a virtual X server on a display it picks itself (its
#                                messages in FOLDER/xvfb.log), DISPLAY set to it; OPTIONS
#                                go to Xvfb
#   desktop_pulseaudio PIDS FOLDER
#                                a PulseAudio server whose default source "testmic" reads
#                                the pipe FOLDER/mic.fifo (s16le, 16 kHz, mono), and a null
#                                sink; its messages in FOLDER/pa.log
# Each start appends the process it starts to the caller's array named PIDS (for the
# caller to stop) before waiting for it, and returns non-zero when it did not come up.

wait_for() {  # wait_for <seconds> <command...>
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

desktop_home() {  # desktop_home <folder>
  export HOME="$1/home" XDG_RUNTIME_DIR="$1/run" SORVANE_LOG_FILE="$1/home/sorvane.log"
  unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  log="$SORVANE_LOG_FILE"
}

desktop_xvfb() {  # desktop_xvfb <pids array> <folder> [Xvfb options...]
  local -n _desktop_pids="$1"
  local folder="$2"
  shift 2
  # -displayfd picks a free display atomically and writes its number once it is ready.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp "$@" 3>"$folder/display" 2>"$folder/xvfb.log" &
  _desktop_pids+=($!)
  wait_for 10 test -s "$folder/display" || return 1
  export DISPLAY=":$(head -n1 "$folder/display")"
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}

desktop_pulseaudio() {  # desktop_pulseaudio <pids array> <folder>
  local -n _desktop_pids="$1"
  local folder="$2"
  printf '%s\n' "load-module module-native-protocol-unix" \
    "load-module module-pipe-source source_name=testmic file=$folder/mic.fifo format=s16le rate=16000 channels=1" \
    "set-default-source testmic" "load-module module-null-sink" >"$folder/pa.conf"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit -F "$folder/pa.conf" >"$folder/pa.log" 2>&1 &
  _desktop_pids+=($!)
  wait_for 10 test -p "$folder/mic.fifo"
}
