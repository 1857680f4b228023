#!/usr/bin/env bash
# Everything CI checks, from a fresh Debian machine: installs what is
# missing, builds every variant, runs the native, sanitizer, 32-bit (qemu)
# and Windows (wine64) tests, checks the shipped DLL's exports and imports,
# runs its tests under 32-bit Wine where Debian's wine32:i386 can be
# installed (the summary says when that step was skipped; it never fails the
# run), and fuzzes the parsers for a bounded time. Fails on any failure.
#   bash scripts/test.sh            everything
#   QRX_FUZZ_SECONDS=10 bash ...    shorter fuzzing
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
fuzz_seconds=${QRX_FUZZ_SECONDS:-60}
jobs=$(nproc)

bash scripts/setup.sh || { echo "setup failed"; exit 1; }

failures=()
skipped=()
passed_total=0
failed_total=0
step() { echo; echo "=== $* === (${SECONDS} s)"; }

configure_build() {  # preset [targets...]
  local preset=$1; shift
  step "build $preset"
  cmake --preset "$preset" >"build-$preset.log" 2>&1 &&
    cmake --build "build/$preset" -j "$jobs" "$@" >>"build-$preset.log" 2>&1
  local rc=$?
  if [ $rc -ne 0 ]; then
    tail -n 60 "build-$preset.log"
    failures+=("build $preset")
  else
    echo "built"
  fi
  rm -f "build-$preset.log"
  return $rc
}

run_ctest() {  # preset [ctest args...]
  local preset=$1; shift
  step "tests $preset"
  local out
  out=$(ctest --test-dir "build/$preset" --output-on-failure -j "$jobs" "$@" 2>&1)
  local rc=$?
  echo "$out" | tail -n 40
  local line
  line=$(echo "$out" | grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' | tail -n 1)
  if [ -n "$line" ]; then
    local total failed
    failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
    passed_total=$((passed_total + total - failed))
    failed_total=$((failed_total + failed))
  fi
  if [ $rc -ne 0 ] || [ -z "$line" ]; then failures+=("tests $preset"); fi
}

# Native and sanitizers.
configure_build native && run_ctest native
configure_build asan && run_ctest asan

# The interference finder on photographs with known gratings: the whole
# table, with its targets (about two minutes).
if [ -x build/native/tools/host/qrx_evaluate ]; then
  step "interference finder evaluation"
  if QRX_BUILD_DIR=build/native bash scripts/evaluate-suggest.sh; then :; else failures+=("evaluation"); fi
fi

# The threaded parts under ThreadSanitizer: the plug-in's lifecycle stress,
# the mask builder, the platform layer's threads and events, and frei0r
# module instances running at the same time, the FFT workers with the rows
# they convert and transform.
tsan_tests="plugin_stress_test|test_mask|test_platform|test_ui|test_frei0r|test_fft|test_frame_pipeline"
if configure_build tsan --target plugin_stress_test test_mask test_platform test_ui test_frei0r qrx_freqfilter test_fft \
  test_frame_pipeline; then
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan -R "$tsan_tests"
fi

# 32-bit Linux core on an emulated Pentium III (SSE, no SSE2). The live
# finder's two stream-length runs (hundreds of frames, some minutes under
# the emulator) are left to the native, sanitizer and Wine runs; every
# other finder test runs here.
configure_build linux32 &&
  GTEST_FILTER="-LiveFinder.FollowsInterferenceThatAppearsMovesAndGoes:LiveFinder.KeepsTheSameListForStaticInterference" \
    run_ctest linux32

# Windows: the 64-bit build whose tests run under Wine (the settings window
# soaked by a random user for 60 s among them), and the shipped 32-bit DLL,
# whose tests run under 32-bit Wine where Debian's wine32:i386 installs.
export WINEDEBUG=-all LANG=ru_RU.UTF-8
xvfb_pid=""
start_display() {
  step "X display"
  # A private X server for the settings window's tests, stopped by its
  # process id afterwards. It must run before a Wine prefix is made: Wine's
  # desktop takes its display when the prefix's first process starts.
  local display=$(( 90 + $$ % 100 ))
  while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$display"
  for _ in $(seq 100); do
    if xdpyinfo >/dev/null 2>&1; then echo "ready (display $DISPLAY)"; return 0; fi
    sleep 0.1
  done
  echo "Xvfb did not start"; failures+=("X display")
}
stop_display() {
  [ -n "$xvfb_pid" ] || return 0
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
  unset DISPLAY
}
use_prefix() {  # prefix-directory loader [arch]: a Wine prefix made once, in the build tree
  export WINEPREFIX=$1
  if [ -n "${3:-}" ]; then export WINEARCH=$3; else unset WINEARCH; fi
  [ -f "$WINEPREFIX/system.reg" ] || { rm -rf "$WINEPREFIX"; "$2" wineboot --init >/dev/null 2>&1; }
  /usr/lib/wine/wineserver -w 2>/dev/null || true
  # One server and its services for the whole run, started here with no
  # output: started by the first test instead, the services would inherit
  # that test's output pipe and ctest would wait for them to the end.
  /usr/lib/wine/wineserver -p 2>/dev/null || true
  "$2" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

if configure_build win64; then
  start_display
  use_prefix "$root/build/wineprefix" /usr/lib/wine/wine64
  run_ctest win64
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  echo "screenshots: $(ls build/win64/screenshots 2>/dev/null | tr '\n' ' ')"
fi

step "32-bit Wine (wine32:i386)"
wine32=0
if wine32_out=$(LC_ALL=C bash scripts/setup.sh wine32 2>&1); then  # apt in English for the summary
  wine32=1
  echo "installed"
else
  echo "$wine32_out" | tail -n 4
  skipped+=("32-bit Wine tests of the shipped DLL (wine32:i386 could not be installed: $(echo "$wine32_out" | tail -n 1))")
fi
if configure_build win32; then
  step "exports and imports of the 32-bit DLL"
  if bash scripts/check-dll.sh build/win32; then echo "ok"; else failures+=("dll check"); fi
  if [ "$wine32" = 1 ]; then
    [ -n "$xvfb_pid" ] || start_display
    use_prefix "$root/build/wineprefix32" /usr/lib/wine/wine win32
    run_ctest win32
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  fi
fi
stop_display
unset WINEPREFIX WINEARCH

# Fuzzing the settings reader and the filter text reader.
if configure_build fuzz; then
  step "fuzz (${fuzz_seconds} s each)"
  if bash tests/fuzz/run_fuzz.sh build/fuzz "$fuzz_seconds"; then echo "no findings"; else failures+=("fuzz"); fi
fi

echo
note=""
if [ ${#skipped[@]} -gt 0 ]; then note="; skipped: ${skipped[*]}"; fi
if [ ${#failures[@]} -gt 0 ]; then
  echo "FAILED: ${failures[*]}"
  echo "${passed_total} passed, $((failed_total > 0 ? failed_total : 1)) failed${note}"
  exit 1
fi
echo "all checks passed"
echo "${passed_total} passed, ${failed_total} failed${note}"
