#!/usr/bin/env bash
# rq-m4x-sim.exe from the zip under Wine and Xvfb, on a loopback TCP port
# (Windows has no pseudo-terminal). rq-m4x-send.exe from the zip drives it,
# one simulator per row of a table: the exit status, the reply in its JSON
# record, the frame the simulator recorded, and the simulator's end (on
# Ctrl-C, or by itself after a hang-up) with status 0. Then: a GBK message as
# the --state line reads it, the end after --count, the options it refuses,
# the window program on its tcp:// port, and its --show window, whose lit
# dots must be those of its --snapshot picture.
#
# Needs scripts/build-windows to have run. Output (screenshots too) goes to
# <build dir>/sim/. Prints "N passed, N failed" last; exits non-zero on a
# failure. No COM name is used.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

# A display of our own, unless this is the run inside it.
if [ -z "${RQ_SIM_DISPLAY:-}" ]; then
  install_wine_packages
  exec env RQ_SIM_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

out=$wine_build/sim
zip_path_file=$wine_build/cross/windows_zip_path
driver=$wine_build/cross/rq-wine-driver.exe
[ -f "$zip_path_file" ] && [ -f "$driver" ] || {
  echo "sim: no Windows build in $wine_build; run scripts/build-windows first" >&2
  echo "0 passed, 1 failed"
  exit 1
}
rm -rf "$out"
mkdir -p "$out/app"
(cd "$out/app" && cmake -E tar xf "$(cat "$zip_path_file")")
app=$(find "$out/app" -mindepth 1 -maxdepth 1 -type d | head -n 1)
sim=$app/rq-m4x-sim.exe
send=$app/rq-m4x-send.exe
title="RQ-M4x - LED Test"
trap 'wineserver -k 2>/dev/null || true' EXIT
require wine_prefix "$wine_build/wine-prefix"

# start_sim NAME OPTIONS...: rq-m4x-sim.exe on a free loopback port (tcp://
# unless OPTIONS give a --listen), recording to NAME.record; sets sim_pid and
# address (tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT).
start_sim() {
  local name=$1
  shift
  local listen=(--listen tcp://127.0.0.1:0)
  [[ " $* " == *" --listen "* ]] && listen=()
  wine "$sim" "${listen[@]}" --record "$(winepath -w "$out/$name.record")" "$@" \
    >"$out/$name.address" 2>"$out/$name.err" &
  sim_pid=$!
  if ! wait_for 300 grep -qsE '^(tcp|rfc2217)://127\.0\.0\.1:[0-9]+' "$out/$name.address"; then
    echo "rq-m4x-sim.exe $* did not start: $(cat "$out/$name.err")" >&2
    return 1
  fi
  address=$(tr -d '\r' <"$out/$name.address" | head -n 1)
}
# run_send FILE ARGS...: rq-m4x-send.exe --json ARGS, its records to FILE;
# sets send_status.
run_send() {
  local file=$1
  shift
  send_status=0
  wine "$send" --json "$@" >"$file" 2>"$file.err" || send_status=$?
}
# stop_sim: Ctrl-C (Wine turns SIGINT into one); sets sim_status.
stop_sim() {
  kill -INT "$sim_pid" 2>/dev/null || true
  local ended=0
  wait_for 100 eval '! kill -0 "$sim_pid" 2>/dev/null' && ended=1
  [ "$ended" = 1 ] || kill -KILL "$sim_pid" 2>/dev/null || true
  sim_status=0
  wait "$sim_pid" || sim_status=$?
  [ "$ended" = 1 ] || sim_status="still running after Ctrl-C"
}

# ---- a table: simulator options | rq-m4x-send arguments | its exit status |
# the reply in its record | the frame the simulator recorded ----
rows=(
  "|bright 8|0|\"0F\"|A1 07 F8 43 08 EB 51"
  "--status F0|bright 8|3|\"F0\"|A1 07 F8 43 08 EB 51"
  "--reply 33|bright 8|6|\"33\"|A1 07 F8 43 08 EB 51"
  "--silent|bright 8|7|null|A1 07 F8 43 08 EB 51"
  "--delay 200|black|0|\"0F\"|A1 06 F9 63 03 51"
  "--ids 1,3 --fail 3:F1|--id 3 bright 8|4|\"F1\"|A1 08 F7 03 43 08 EE 51"
  "--ids 1,3|--id 2 bright 8|7|null|A1 08 F7 02 43 08 ED 51"
  "--paced 9600|--id 1 bright 8|0|\"0F\"|A1 08 F7 01 43 08 EC 51"
  "--hangup-before|bright 8|10|null|A1 07 F8 43 08 EB 51"
  "--hangup-after|bright 8|0|\"0F\"|A1 07 F8 43 08 EB 51"
  "--listen rfc2217://127.0.0.1:0|bright 255|0|\"0F\"|A1 07 F8 43 FF E2 51"
  "--listen rfc2217://127.0.0.1:0 --paced --status FF|--baud 1200 black|6|\"FF\"|A1 06 F9 63 03 51"
)
row_number=0
run_row() {  # OPTIONS SEND EXIT REPLY FRAME
  local name=row$row_number problems=""
  # shellcheck disable=SC2086
  start_sim "$name" $1 || return 1
  # shellcheck disable=SC2086
  run_send "$out/$name.jsonl" --port "$address" $2
  # A hang-up ends the simulator by itself; the others end on Ctrl-C.
  if [[ $1 == *--hangup* ]] && ! wait_for 100 eval '! kill -0 "$sim_pid" 2>/dev/null'; then
    problems+=" still running after the hang-up;"
  fi
  stop_sim
  [ "$send_status" = "$3" ] || problems+=" exit status $send_status;"
  tr -d '\r' <"$out/$name.jsonl" | grep -qF "\"reply\":$4," || problems+=" record $(cat "$out/$name.jsonl");"
  [ "$(tr -d '\r' <"$out/$name.record")" = "$5" ] || problems+=" recorded $(cat "$out/$name.record");"
  [ "$sim_status" = 0 ] || problems+=" the simulator ended with $sim_status;"
  [ -z "$problems" ] || echo "  $1 / $2:$problems" >&2
  [ -z "$problems" ]
}
for row in "${rows[@]}"; do
  IFS='|' read -r options arguments expected reply frame <<<"$row"
  row_number=$((row_number + 1))
  check "${options:-(no option)}: $arguments exits $expected, reply $reply, frame recorded; the simulator ends with 0" \
    run_row "$options" "$arguments" "$expected" "$reply" "$frame"
done

amber_pixels() {  # PNG: pixels of a lit dot at full brightness
  convert "$1" -fill black +opaque '#FFB000' -fill white -opaque '#FFB000' -colorspace gray \
    -format '%[fx:round(mean*w*h)]' info:
}

# ---- the sign's state: a Chinese message sent in GBK; the files in a
# folder whose name the ANSI code page (1252) cannot hold ----
gbk_state() {
  local folder="$out/Łódź 中"
  mkdir -p "$folder" && cp "$app/fonts/unifont.hex" "$folder/" || return 1
  start_sim gbk --state "$(winepath -w "$folder/gbk.jsonl")" --snapshot "$(winepath -w "$folder/png")" \
    --font "$(winepath -w "$folder/unifont.hex")" || return 1
  run_send "$out/gbk.send.jsonl" --port "$address" message "中文 3"
  # A lone 0x80, which code page 936 reads as "€", is no character, as on Linux.
  { exec 3<>"/dev/tcp/127.0.0.1/${address##*:}" && printf '\xA1\x0A\xF5\x01\x41\x80\xD6\xD0\x08\x51' >&3 &&
    read -r -t 10 -N 1 _ <&3; exec 3<&-; } 2>/dev/null
  stop_sim
  [ "$send_status" = 0 ] && tr -d '\r' <"$out/gbk.record" | grep -qx 'A1 0C F3 01 D6 D0 CE C4 20 33 2C 51' &&
    tr -d '\r' <"$folder/gbk.jsonl" | grep -qF '"encoding":1,"message":"中文 3","shown_since":' &&
    tr -d '\r' <"$folder/gbk.jsonl" | tail -n 1 | grep -qF '"message":"A�中"' &&
    [ "$(amber_pixels "$folder/png/sign-1.png")" -gt 100 ] && [ ! -s "$out/gbk.err" ]
}
check "--state, --snapshot and --font in a folder named \"Łódź 中\": GBK decoded (0x80 refused) and drawn" gbk_state

# ---- ends by itself after --count ----
count_ends() {
  start_sim count --count 2 || return 1
  wine "$send" --port "$address" --quiet bright 8 >/dev/null 2>&1 || true
  wine "$send" --port "$address" --quiet bright 9 >/dev/null 2>&1 || true
  wait_for 100 eval '! kill -0 "$sim_pid" 2>/dev/null' || return 1
  local status=0
  wait "$sim_pid" || status=$?
  [ "$status" = 0 ] && [ "$(grep -c . "$out/count.record")" = 2 ]
}
check "--count 2 ends the simulator after two frames, with status 0" count_ends

# ---- refused: no --listen, and --paced without a rate on a TCP line ----
refuses() {  # MESSAGE OPTIONS...
  local message=$1 status=0
  shift
  wine "$sim" "$@" >"$out/refused.out" 2>"$out/refused.err" </dev/null || status=$?
  [ "$status" = 2 ] && tr -d '\r' <"$out/refused.err" | grep -qF -- "$message" && [ ! -s "$out/refused.out" ]
}
check "without --listen it says why and exits 2" \
  refuses "rq-m4x-sim: Windows has no pseudo-terminal: give --listen tcp://HOST:PORT or"
check "--paced without a rate on a tcp:// line exits 2" \
  refuses "rq-m4x-sim: --paced needs a RATE on a tcp:// line" --listen tcp://127.0.0.1:0 --paced

# ---- the window program on the simulator's tcp:// port ----
window_program() {
  start_sim window || return 1
  local profile file
  for file in "$app"/Modes/*.ini; do
    tr -d '\r' <"$file" | grep -qx 'Model=RQ-M4T' && profile=$(basename "$file" .ini) && break
  done
  mkdir -p "$app/Config"
  printf '[Setting]\nlang=58\nMode=%s\n[SerialPort]\nCOM=%s\nBSP=9600\n' "$profile" "$address" >"$app/Config/Config.ini"
  (cd "$app" && exec wine rq-m4x-led-test.exe >"$out/window.log" 2>&1) &
  local program_pid=$! ok=1
  { wine "$driver" wait "$title" 90 && wine "$driver" click "$title" "Bright Set" &&
    wine "$driver" log "$title" "Close: $address" 60 >"$out/window-pane.txt"; } 2>>"$out/driver.log" || ok=0
  wine "$driver" close "$title" 60 2>>"$out/driver.log" || true
  wait_for 300 eval '! kill -0 "$program_pid" 2>/dev/null' || true
  stop_sim
  local pane
  pane=$(tr -d '\r' <"$out/window-pane.txt")
  [ "$ok" = 1 ] && grep -qxF "                 Success" <<<"$pane" &&
    grep -qE "^[0-9:.]{12}     Open : $address ,9600 \$" <<<"$pane" &&
    # The frame the log shows is the frame the simulator received.
    [ "$(sed -n 's/^                 DATA : *\(.*\)$/\1/p' <<<"$pane" | head -n 1)" = \
      "$(tr -d '\r' <"$out/window.record")" ] &&
    grep -qE '^A1 .. .. (43|.. 43) ' "$out/window.record"
}
check "the window's \"Bright Set\" reaches it over tcp:// and ends in \"Success\"" window_program

# ---- --show: the window draws the panel after a message ----
show_draws() {
  start_sim show --show --snapshot "$(winepath -w "$out/snapshots")" || return 1
  local ok=1
  wine "$driver" wait "rq-m4x-sim*" 60 2>>"$out/driver.log" || ok=0
  wine "$send" --port "$address" --quiet message "中文 3" >/dev/null 2>&1 || ok=0
  wanted=$(amber_pixels "$out/snapshots/sign-1.png" 2>/dev/null || echo none)
  shown_like_snapshot() {
    import -window root "$out/show.png" 2>/dev/null && [ "$(amber_pixels "$out/show.png")" = "$wanted" ]
  }
  wait_for 100 shown_like_snapshot || ok=0
  echo "--show: $(amber_pixels "$out/show.png" 2>/dev/null) lit pixels on the screen, $wanted in the snapshot" >&2
  wine "$driver" close "rq-m4x-sim*" 30 2>>"$out/driver.log" || ok=0
  local status=0
  wait_for 100 eval '! kill -0 "$sim_pid" 2>/dev/null' || ok=0
  kill -KILL "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" || status=$?
  # The font beside the program was found: no boxes instead of characters.
  [ "$ok" = 1 ] && [ "$status" = 0 ] && [ "$wanted" -gt 100 ] && ! grep -q 'cannot read the font' "$out/show.err"
}
check "--show draws the lit dots of its snapshot (sim/show.png); closing the window ends the simulator" show_draws

summary
