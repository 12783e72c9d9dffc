#!/usr/bin/env bash
# rq-m4x-send.exe from the zip over a simulated bus under Wine: a script run
# over a list of IDs with one absent sign, JSON records, a log file, and the
# stop at the first failure. The bus (rq-m4x-sim --ids) is mapped to COM1;
# no other COM name is used.
#
# Needs scripts/build-windows to have run. Output goes to <build dir>/fleet/.
# Prints "N passed, N failed" last; exits non-zero on a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

out=$wine_build/fleet
zip_path_file=$wine_build/cross/windows_zip_path
[ -f "$zip_path_file" ] || {
  echo "fleet: no Windows build in $wine_build; run scripts/build-windows first" >&2
  echo "0 passed, 1 failed"
  exit 1
}
install_wine_packages
simulator=$(find_simulator) || require false find_simulator

rm -rf "$out"
mkdir -p "$out/app"
(cd "$out/app" && cmake -E tar xf "$(cat "$zip_path_file")")
send=$(find "$out/app" -name rq-m4x-send.exe | head -n 1)
trap 'wineserver -k 2>/dev/null || true; stop_simulators' EXIT

require wine_prefix "$wine_build/wine-prefix"
# Signs 1 and 3 on the bus; 2 is absent.
require start_simulator "$out/pty.txt" --ids 1,3 --record "$out/record.txt"
require map_ports COM1 "$(head -n 1 "$out/pty.txt")"

printf -- '# platform signs\r\n--ids 1-3 bright 8\r\n\r\n--id 3 message --unicode "站台 3"\r\n' >"$out/station.txt"
set +e
wine "$send" --port COM1 --json --keep-going --log "$(winepath -w "$out/station.log")" \
  --script "$(winepath -w "$out/station.txt")" >"$out/records.jsonl" 2>"$out/summary.txt"
status=$?
wine "$send" --port COM1 --quiet --ids 1-3 reset >"$out/stopped.txt" 2>&1
stopped=$?
set -e
tr -d '\r' <"$out/records.jsonl" >"$out/records.txt"

check "an absent ID gives exit status 7 ($status)" test "$status" -eq 7
check "four JSON records, one per transaction" test "$(grep -c '^{"id":' "$out/records.txt")" -eq 4
check "the absent ID's record has no reply" \
  grep -q '^{"id":2,"command":"bright","arguments":\["8"\],"line":2,.*"reply":null,"outcome":"timed out","exit_status":7' \
  "$out/records.txt"
check "the message record carries the Unicode frame" \
  grep -q '"line":4,.*"frame":"A1 0F F0 03 02 D9 7A F0 53 20 00 33 00 8E 51","reply":"0F","outcome":"success"' \
  "$out/records.txt"
check "the summary names the absent ID" grep -q '^Not succeeded: 2' "$out/summary.txt"
check "the log starts with its header" grep -q '^==== .*  port COM1  baud 9600  rq-m4x-send --port COM1 --json' \
  "$out/station.log"
check "the log keeps the bytes sent to ID 3" grep -q 'DATA :  A1 08 F7 03 43 08 EE 51' "$out/station.log"
check "the port is opened once for the run" test "$(grep -c 'Open : COM1 ,9600' "$out/station.log")" -eq 1
check "without --keep-going the run stops at ID 2 ($stopped)" test "$stopped" -eq 7
check "the stopped run says what it did not send" grep -q '^Not sent: 1 ' "$out/stopped.txt"
check "the bus received the six frames" test "$(grep -c . "$out/record.txt")" -eq 6
summary
