#!/usr/bin/env bash
# rq-m4x-send.exe from the zip through serial device servers under Wine:
# Debian's ser2net on 127.0.0.1 in front of two simulated buses, one in
# RFC 2217 mode and one raw. A 96-transaction script over both servers, the
# automatic brightness frame (it carries 0xFF) whole at the controller, an
# absent ID, a refused server. No COM name is used.
#
# Needs scripts/build-windows to have run. Output goes to <build dir>/network/.
# Prints "N passed, N failed" last; exits non-zero on a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

out=$wine_build/network
zip_path_file=$wine_build/cross/windows_zip_path
[ -f "$zip_path_file" ] || {
  echo "network: no Windows build in $wine_build; run scripts/build-windows first" >&2
  echo "0 passed, 1 failed"
  exit 1
}
install_wine_packages
install_missing_packages ser2net
simulator=$(find_simulator) || require false find_simulator

rm -rf "$out"
mkdir -p "$out/app"
(cd "$out/app" && cmake -E tar xf "$(cat "$zip_path_file")")
send=$(find "$out/app" -name rq-m4x-send.exe | head -n 1)
server_pids=()
stop_servers() {
  local pid
  for pid in "${server_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${server_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap 'wineserver -k 2>/dev/null || true; stop_servers; stop_simulators' EXIT

listening() {  # listening PORT: true once something listens on 127.0.0.1:PORT
  grep -q "$(printf '0100007F:%04X 00000000:0000 0A' "$1")" /proc/net/tcp
}
# A loopback port nobody listens on (and not one handed out before).
used_ports=" "
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 30000))
    listening "$port" || [[ $used_ports == *" $port "* ]] || break
  done
  used_ports+="$port "
  echo "$port"
}
# start_server NAME ACCEPTER DEVICE PORT: ser2net with a YAML file of its own.
start_server() {
  local name=$1 accepter=$2 device=$3 port=$4
  printf '%%YAML 1.1\n---\nconnection: &%s\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
    "$name" "$accepter" "$port" "$device" >"$out/$name.yaml"
  /usr/sbin/ser2net -n -c "$out/$name.yaml" -P "$out/$name.pid" 2>"$out/$name.err" &
  server_pids+=($!)
  wait_for 50 listening "$port"
}

require wine_prefix "$wine_build/wine-prefix"
# Signs 1-16 behind the RFC 2217 server, 17-32 behind the raw one; 33 is absent.
require start_simulator "$out/pty1.txt" --ids 1-16 --record "$out/record1.txt"
require start_simulator "$out/pty2.txt" --ids 17-32 --record "$out/record2.txt"
rfc_port=$(free_port)
raw_port=$(free_port)
require start_server rfc2217 'telnet(rfc2217),tcp' "$(head -n 1 "$out/pty1.txt")" "$rfc_port"
require start_server raw tcp "$(head -n 1 "$out/pty2.txt")" "$raw_port"
rfc=rfc2217://127.0.0.1:$rfc_port
raw=tcp://127.0.0.1:$raw_port

{
  for command in "bright auto" "scroll 3000 50" "align center"; do
    printf -- '--port %s --ids 1-16 %s\r\n--port %s --ids 17-32 %s\r\n' "$rfc" "$command" "$raw" "$command"
  done
} >"$out/station.txt"
set +e
wine "$send" --json --log "$(winepath -w "$out/station.log")" --script "$(winepath -w "$out/station.txt")" \
  >"$out/records.jsonl" 2>"$out/summary.txt"
status=$?
wine "$send" --port "$raw" --json --keep-going --ids 31-33 black >"$out/absent.jsonl" 2>/dev/null
absent=$?
refused_port=$(free_port)
wine "$send" --port "rfc2217://127.0.0.1:$refused_port" --id 1 reset >"$out/refused.txt" 2>&1
refused=$?
set -e
tr -d '\r' <"$out/records.jsonl" >"$out/records.txt"
tr -d '\r' <"$out/refused.txt" >"$out/refused-lf.txt"

check "96 transactions over two servers succeed ($status)" test "$status" -eq 0
check "96 JSON records, all successes" test "$(grep -c '"outcome":"success"' "$out/records.txt")" -eq 96
check "the records name the RFC 2217 server" test "$(grep -c "\"port\":\"$rfc\"" "$out/records.txt")" -eq 48
check "the records name the raw server" test "$(grep -c "\"port\":\"$raw\"" "$out/records.txt")" -eq 48
check "the automatic brightness frame for ID 1 arrived whole" grep -qx 'A1 08 F7 01 43 FF E3 51' "$out/record1.txt"
check "the automatic brightness frame for ID 17 arrived whole" grep -qx 'A1 08 F7 11 43 FF F3 51' "$out/record2.txt"
# The raw bus also had the three frames of the run with the absent ID.
check "each bus received its frames (48, 48 + 3)" test "$(grep -c . "$out/record1.txt")" -eq 48 -a \
  "$(grep -c . "$out/record2.txt")" -eq 51
check "the log opens each server by its name" grep -q "Open : $rfc ,9600 " "$out/station.log"
check "an absent ID behind a server gives exit status 7 ($absent)" test "$absent" -eq 7
check "the absent ID's record timed out" grep -q '"id":33,.*"outcome":"timed out"' "$out/absent.jsonl"
# A live connection waits the whole half second; only a lost one ends sooner.
absent_ms=$(tr -d '\r' <"$out/absent.jsonl" | sed -n 's/^{"id":33,.*"ms":\([0-9.]*\)}$/\1/p')
check "the absent ID waited the whole reply wait (${absent_ms:-?} ms)" awk -v ms="${absent_ms:-0}" 'BEGIN { exit !(ms >= 450) }'
check "a refused server gives exit status 8 ($refused)" test "$refused" -eq 8
check "a refused server is one Open Failed line with its name" \
  grep -qx "                 Open Failed : rfc2217://127.0.0.1:$refused_port ,9600 " "$out/refused-lf.txt"
summary
