#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: a release
# build with GCC (tests, self-checks end to end, a benchmark smoke run) and a clang build
# with AddressSanitizer and UndefinedBehaviorSanitizer that also runs every fuzz target
# briefly; then the suites that use threads once more under ThreadSanitizer. Desktop tests
# run under a private virtual X server.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
jobs="$(nproc)"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

run_suite() {
  local dir="$1"
  shift
  cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # Tests run over a temporary home with their own log: nothing reaches the user's files
  # or the shared /tmp/sorvane.log. -noreset: without it the X server resets whenever its
  # last client leaves, and a test connecting during the reset is refused.
  local home="$dir/test-home"
  rm -rf "$home" && mkdir -p "$home"
  env -u XDG_DATA_HOME -u XDG_STATE_HOME -u XDG_CONFIG_HOME HOME="$home" SORVANE_LOG_FILE="$home/sorvane.log" \
    xvfb-run -a -s "-screen 0 1280x800x24 -noreset" ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

echo "== release build (gcc)"
run_suite "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== sanitizer build (clang, address + undefined, fuzz targets)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
  run_suite "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DSORVANE_SANITIZE=ON -DSORVANE_BUILD_FUZZ=ON -DSORVANE_BUILD_BENCH=OFF

echo "== thread sanitizer build (clang, the suites that run code on several threads)"
# Only the suites whose tests use threads: a whole-tree build would cost far more than the
# few minutes this takes. Qt and GLib are not instrumented, so races whose stack passes
# through them are suppressed (tests/tsan.supp).
tsan_dir="$root/build/thread-sanitize"
tsan_suites=(core/sorvane_core_tests core/qt/sorvane_core_qt_tests postprocess/sorvane_postprocess_tests)
cmake -S "$root" -B "$tsan_dir" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DSORVANE_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$tsan_dir" -j "$jobs" --target "${tsan_suites[@]##*/}"
tsan_home="$tsan_dir/test-home"
rm -rf "$tsan_home" && mkdir -p "$tsan_home"
for suite in "${tsan_suites[@]}"; do
  env -u XDG_DATA_HOME -u XDG_STATE_HOME -u XDG_CONFIG_HOME HOME="$tsan_home" SORVANE_LOG_FILE="$tsan_home/sorvane.log" \
    QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/tsan.supp" \
    "$tsan_dir/tests/$suite" --gtest_brief=1
done
