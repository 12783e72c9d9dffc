#!/usr/bin/env bash
# Runs the Windows serial layer's unit tests (serial_port_win32_test.exe) under
# Wine, against simulated controllers on pseudo-terminals mapped to COM ports:
#   COM1 answers every frame, COM2 stays silent, COM3 answers 300 ms late,
#   COM4 answers and hangs up, COM12 answers (a name that needs \\.\).
# Needs scripts/build-windows to have run (RQ_WIN_BUILD_DIR, default
# build-windows). Extra arguments go to the test program (e.g.
# --gtest_filter=...). Prints "N passed, N failed" last; exits non-zero on a
# failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

install_wine_packages
test_exe=$wine_build/cross/serial_port_win32_test.exe
[ -f "$test_exe" ] || {
  echo "serial tests: no $test_exe; run scripts/build-windows first" >&2
  echo "0 passed, 1 failed"
  exit 1
}
simulator=$(find_simulator) || require false find_simulator
out=$wine_build/serial-tests
rm -rf "$out"
mkdir -p "$out"

trap 'wineserver -k 2>/dev/null || true; stop_simulators' EXIT
require wine_prefix "$wine_build/wine-prefix"
require start_simulator "$out/answering.pty" --record "$out/record.txt"
require start_simulator "$out/silent.pty" --silent
require start_simulator "$out/late.pty" --delay 300
require start_simulator "$out/hangup.pty" --hangup-after
require start_simulator "$out/high.pty"
require map_ports \
  COM1 "$(cat "$out/answering.pty")" \
  COM2 "$(cat "$out/silent.pty")" \
  COM3 "$(cat "$out/late.pty")" \
  COM4 "$(cat "$out/hangup.pty")" \
  COM12 "$(cat "$out/high.pty")"

status=0
DISPLAY="" \
  RQ_COM_ANSWERING=COM1 RQ_COM_SILENT=COM2 RQ_COM_LATE=COM3 RQ_COM_HANGUP=COM4 RQ_COM_HIGH=COM12 \
  RQ_SIM_RECORD="$(winepath -w "$out/record.txt" 2>/dev/null)" \
  wine "$test_exe" --gtest_color=no "$@" 2>&1 | tr -d '\r' | tee "$out/output.txt" || status=$?

gtest_counts "$out/output.txt" "$status"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
