#!/usr/bin/env bash
# Runs the unit and window test suites built for Windows (unit_tests.exe,
# gui_tests.exe) under Wine and Xvfb. Their simulated controllers are Linux
# rq-m4x-sim processes that sim-broker.sh starts on request; each runs on a
# pseudo-terminal behind one of the COM names mapped here:
#   COM11 ... COM16   the broker's slots (links to the simulators' terminals)
#   COM1 ... COM10    a path that does not exist: a test that opens one of
#                     these by mistake sees "not found", never a real device
#
# Needs scripts/build-windows to have run (RQ_WIN_BUILD_DIR, default
# build-windows). Extra arguments go to both test programs (e.g.
# --gtest_filter=...). Prints "N passed, N failed" last; exits non-zero on a
# failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

# A display of our own, unless this is the run inside it.
if [ -z "${RQ_SUITES_DISPLAY:-}" ]; then
  install_wine_packages
  exec env RQ_SUITES_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

out=$wine_build/suites
for exe in unit_tests gui_tests; do
  [ -f "$wine_build/cross/$exe.exe" ] || {
    echo "suites: no $wine_build/cross/$exe.exe; run scripts/build-windows first" >&2
    echo "0 passed, 1 failed"
    exit 1
  }
done
simulator=$(find_simulator) || require false find_simulator
rm -rf "$out"
mkdir -p "$out/sims"

slots=6
first_slot_port=11
broker_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$broker_pid" ]; then
    touch "$out/sims/quit"
    wait "$broker_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

require wine_prefix "$wine_build/wine-prefix"

# Every COM name the suites may see, in one registry import.
map_suite_ports() {
  local reg=$out/ports.reg n k
  {
    printf 'REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for ((n = 1; n < first_slot_port; n++)); do
      printf '"COM%d"="%s"\r\n' "$n" "$out/sims/absent-COM$n"
    done
    for ((k = 1; k <= slots; k++)); do
      printf '"COM%d"="%s"\r\n' $((first_slot_port + k - 1)) "$out/sims/port-$k"
    done
  } >"$reg"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1 || return 1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
require map_suite_ports

chinese_locale=$wine_build/locale
require make_chinese_locale

bash "$here/sim-broker.sh" "$out/sims" "$simulator" "$slots" &
broker_pid=$!

ports=""
for ((k = 1; k <= slots; k++)); do ports+="${ports:+,}COM$((first_slot_port + k - 1))"; done
# The controllers' text goes out in the system's ANSI code page, GBK (936) on
# the Chinese Windows they are used with. Wine takes it from LC_CTYPE, which
# must name a locale that exists, or file names stop being UTF-8: one is made
# here from Debian's locale sources, and messages stay in English.
export RQ_SIM_BROKER RQ_SIM_PORTS=$ports NO_AT_BRIDGE=1 LOCPATH=$chinese_locale LC_CTYPE=zh_CN.UTF-8
# One Wine server for both suites, started here with its output in a file: it
# dumps all its objects whenever a terminal it holds hangs up (the hang-up
# tests), hundreds of megabytes that have no place in the test log: its last
# lines are kept in a file.
wineserver -p 2> >(tail -n 200 >"$out/wineserver.log")
RQ_SIM_BROKER=$(winepath -w "$out/sims")

total_passed=0
total_failed=0
total_skipped=0
run_suite() {
  local name=$1 started=$SECONDS status=0
  shift
  echo "== $name under Wine"
  local log=$out/$name${suite_run:-}.txt
  wine "$wine_build/cross/$name.exe" --gtest_color=no "$@" 2>&1 | tr -d '\r' | tee "$log" || status=$?
  local passed failed skipped
  gtest_counts "$log" "$status"
  echo "$name: $passed passed, $failed failed, $skipped skipped in $((SECONDS - started)) s"
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  total_skipped=$((total_skipped + skipped))
}

run_suite unit_tests "$@"
run_suite gui_tests "$@"

# Encoding 1 is GBK whatever Windows' ANSI code page is: the encoding table
# and the window's Chinese message again under an English Windows' code page
# (1252: Wine's for an English locale), and the table under "Use Unicode UTF-8
# for worldwide language support" (65001: set for the process by an
# activeCodePage manifest beside the executable, as Windows 10 allows; the
# window suite's own embedded manifest would take precedence over one beside
# it). The tests check that they ran under the code page named.
echo "== GBK under ANSI code page 1252"
LC_CTYPE=C.UTF-8 RQ_EXPECT_ANSI_CODE_PAGE=1252 suite_run=-cp1252 run_suite unit_tests --gtest_filter='ToControllerMultibyte.*'
LC_CTYPE=C.UTF-8 RQ_EXPECT_ANSI_CODE_PAGE=1252 suite_run=-cp1252 run_suite gui_tests --gtest_filter='*EveryButton*ChineseMessageInGbk'
echo "== GBK under ANSI code page 65001"
utf8_manifest=$wine_build/cross/unit_tests.exe.manifest
printf '%s\r\n' '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>' \
  '<assembly manifestVersion="1.0" xmlns="urn:schemas-microsoft-com:asm.v1">' \
  '  <assemblyIdentity type="win32" name="rq.unit_tests" version="1.0.0.0" processorArchitecture="amd64"/>' \
  '  <application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>' \
  '    <activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>' \
  '  </windowsSettings></application>' '</assembly>' >"$utf8_manifest"
LC_CTYPE=C.UTF-8 RQ_EXPECT_ANSI_CODE_PAGE=65001 suite_run=-cp65001 run_suite unit_tests --gtest_filter='ToControllerMultibyte.*'
rm -f "$utf8_manifest"

# The window and dialogs at 150 % and 200 % (Windows' LogPixels 144 and 192):
# the display-scale check again, with a Wine server that reads the setting
# afresh, on a screen as large as such a laptop's (Wine 8 keeps the prefix's
# first screen size, 1280x1024, so at 192 DPI the main window is held to it).
# Screenshots go to suites/scale-<dpi>/.
set_log_pixels() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
for dpi in 144 192; do
  mkdir -p "$out/scale-$dpi"
  set_log_pixels "$dpi" || { echo "could not set LogPixels to $dpi" >&2; total_failed=$((total_failed + 1)); continue; }
  status=0
  echo "== gui_tests at $dpi DPI under Wine"
  RQ_SCREENSHOT_DIR=$(winepath -w "$out/scale-$dpi") xvfb-run -a -s "-screen 0 3000x2000x24" \
    bash -c 'wine "$1" --gtest_color=no --gtest_filter=DisplayScale.*; s=$?; wineserver -k; exit $s' scaled \
    "$wine_build/cross/gui_tests.exe" 2>&1 | tr -d '\r' | tee "$out/gui_tests-$dpi.txt" || status=$?
  gtest_counts "$out/gui_tests-$dpi.txt" "$status"
  echo "gui_tests at $dpi DPI: $passed passed, $failed failed"
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
done
set_log_pixels 96 || true
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" -eq 0 ]
