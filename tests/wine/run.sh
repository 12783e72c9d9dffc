#!/usr/bin/env bash
# Every Windows test in one command: cross-builds (scripts/build-windows; the
# static wxWidgets comes from its cache, or is built once when missing), then
# runs under Wine, in one Wine prefix: the serial layer's tests, the unit and
# window suites, the smoke test, the fleet run of rq-m4x-send, the runs
# through ser2net, the Windows simulator and the installer.
#
#   RQ_WIN_BUILD_DIR  the Windows build directory (default: build-windows)
#   RQ_SIM            the Linux rq-m4x-sim to use (default: $RQ_BUILD_DIR or
#                     build/rq-m4x-sim, else built under the Windows build dir)
#   RQ_WIN_SKIP_BUILD=1  use the build as it is
#
# Prints "N passed, N failed" last, the sum of both test runs; exits non-zero
# when anything failed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${RQ_WIN_SKIP_BUILD:-0}" != 1 ]; then
  if ! bash "$root/scripts/build-windows"; then
    echo "0 passed, 1 failed"
    exit 1
  fi
fi

total_passed=0
total_failed=0
run_part() {
  local name=$1 output status started=$SECONDS
  shift
  echo "== $name"
  output=$(mktemp)
  bash "$@" 2>&1 | tee "$output"
  status=${PIPESTATUS[0]}
  local counts
  counts=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$output" | tail -n 1)
  rm -f "$output"
  local p=0 f=0
  if [ -n "$counts" ]; then
    p=$(sed 's/^\([0-9]*\) passed.*/\1/' <<<"$counts")
    f=$(sed 's/^[0-9]* passed, \([0-9]*\) failed.*/\1/' <<<"$counts")
  fi
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  total_passed=$((total_passed + p))
  total_failed=$((total_failed + f))
  echo "== $name: $((SECONDS - started)) s"
}

run_part "Windows serial layer under Wine" "$here/run-serial-tests.sh"
run_part "Unit and window suites under Wine" "$here/run-suites.sh"
run_part "Windows smoke test under Wine" "$here/smoke.sh"
run_part "rq-m4x-send over a simulated bus under Wine" "$here/fleet.sh"
run_part "rq-m4x-send through ser2net under Wine" "$here/network.sh"
run_part "rq-m4x-sim.exe on a TCP port under Wine" "$here/sim.sh"
run_part "Windows installer under Wine" "$here/installer.sh"

echo "Windows: $total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
