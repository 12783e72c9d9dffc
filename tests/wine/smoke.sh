#!/usr/bin/env bash
# Smoke test of the Windows build under Wine and Xvfb: the program unpacked
# from the zip starts with its bundled RQ-M4T profile (screenshot), and one
# "Bright Set" travels through Wine's COM1 to the simulated controller on a
# pseudo-terminal and ends in "Success". Then the window is closed and the
# settings file must hold what the handler wrote. Last, "Try without
# hardware" (rq-m4x-try.exe) runs the program against rq-m4x-sim.exe, in a
# settings folder of its own.
#
# Needs scripts/build-windows to have run (RQ_WIN_BUILD_DIR, default
# build-windows). Screenshots, logs and the unpacked program go to
# <build dir>/smoke/. Prints "N passed, N failed" last; exits non-zero on a
# failure.
#
# The program is never shown its serial settings dialog, and only COM1 is
# mapped and used.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

# A display of our own, unless this is the run inside it.
if [ -z "${RQ_SMOKE_DISPLAY:-}" ]; then
  install_wine_packages
  exec env RQ_SMOKE_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

title="RQ-M4x - LED Test"
out=$wine_build/smoke
zip_path_file=$wine_build/cross/windows_zip_path
driver=$wine_build/cross/rq-wine-driver.exe
[ -f "$zip_path_file" ] && [ -f "$driver" ] || {
  echo "smoke: no Windows build in $wine_build; run scripts/build-windows first" >&2
  echo "0 passed, 1 failed"
  exit 1
}
zip=$(cat "$zip_path_file")
simulator=$(find_simulator) || require false find_simulator

rm -rf "$out/app" "$out"/*.png "$out"/*.txt "$out"/*.log
mkdir -p "$out/app"
(cd "$out/app" && cmake -E tar xf "$zip")
app=$(find "$out/app" -mindepth 1 -maxdepth 1 -type d | head -n 1)

program_pid=""
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    wine "$driver" close "$title" 10 >/dev/null 2>&1 || true
  fi
  wineserver -k 2>/dev/null || true
  stop_simulators
}
trap cleanup EXIT

require wine_prefix "$wine_build/wine-prefix"
require start_simulator "$out/pty.txt" --record "$out/record.txt"
pty=$(head -n 1 "$out/pty.txt")
require map_ports COM1 "$pty"

# The settings the operator would have chosen: COM1 and a profile whose model
# has the command set.
profile=""
for file in "$app"/Modes/*.ini; do
  [ -f "$file" ] || continue
  if tr -d '\r' <"$file" | grep -qx 'Model=RQ-M4T'; then
    profile=$(basename "$file" .ini)
    break
  fi
done
mkdir -p "$app/Config"
printf '[Setting]\nlang=58\nMode=%s\n[SerialPort]\nCOM=COM1\nBSP=9600\n' "$profile" >"$app/Config/Config.ini"
check "a bundled profile has the model RQ-M4T ($profile)" test -n "$profile"

(cd "$app" && exec wine rq-m4x-led-test.exe >"$out/program.log" 2>&1) &
program_pid=$!
check "the window \"$title\" opens" wine "$driver" wait "$title" 90
# The window shows the icon "aaaa" from the executable's resources: the icon
# Wine hands to X matches the .ico the build made (on a magenta backdrop, so
# transparent pixels compare equal whatever colour they carry).
window_icon_matches() {
  local id values width height frame size
  id=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1)
  [ -n "$id" ] || return 1
  values=$(xprop -id "$id" -f _NET_WM_ICON 32c '=$0+\n' _NET_WM_ICON | cut -d= -f2 | tr -d ' ' | tr ',' '\n')
  width=$(sed -n 1p <<<"$values")
  height=$(sed -n 2p <<<"$values")
  [ -n "$width" ] && [ "$width" -gt 0 ] || return 1
  {
    echo "# ImageMagick pixel enumeration: $width,$height,255,srgba"
    awk -v w="$width" -v h="$height" 'NR > 2 && NR <= 2 + w * h {
      v = $1; i = NR - 3
      printf "%d,%d: (%d,%d,%d,%d)\n", i % w, int(i / w), int(v / 65536) % 256, int(v / 256) % 256, v % 256, int(v / 16777216) % 256
    }' <<<"$values"
  } >"$out/window-icon.txt"
  convert "$out/window-icon.txt" -background magenta -flatten "$out/window-icon.png" || return 1
  for frame in 0 1 2 3 4 5 6 7; do
    size=$(identify -format '%wx%h' "$wine_build/cross/icons/aaaa.ico[$frame]" 2>/dev/null) || return 1
    [ "$size" = "${width}x${height}" ] && break
  done
  convert "$wine_build/cross/icons/aaaa.ico[$frame]" -background magenta -flatten "$out/aaaa-$size.png" || return 1
  local differing
  differing=$(compare -metric AE -fuzz 10% "$out/window-icon.png" "$out/aaaa-$size.png" null: 2>&1) || true
  echo "window icon ${width}x${height}: $differing pixels differ from aaaa.ico" >>"$out/driver.log"
  [ "${differing%%.*}" -le $((width * height / 50)) ] 2>/dev/null
}
check "the window shows the icon resource \"aaaa\"" window_icon_matches

# A screenshot once the window has been painted: more than a few colours.
painted() {
  import -window root "$out/startup.png" 2>/dev/null &&
    [ "$(convert "$out/startup.png" -format %k info: 2>/dev/null || echo 0)" -gt 16 ]
}
check "screenshot of the started window (smoke/startup.png)" wait_for 300 painted

check "\"Bright Set\" is pressed" wine "$driver" click "$title" "Bright Set"
wine "$driver" log "$title" "Close: COM1" 60 >"$out/log.txt" 2>>"$out/driver.log" || true
import -window root "$out/bright-set.png" 2>/dev/null || true
log=$(tr -d '\r' <"$out/log.txt")

has_line() { grep -qxF -- "$1" <<<"$log"; }
has_line_starting() { grep -q -- "^$1" <<<"$log"; }
check "the log shows the banner" has_line "               =========  Bright Set  ========="
check "the log shows COM1 opened" grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}     Open : COM1 ,[0-9]+ $' <<<"$log"
check "the log shows one byte read" grep -qE '^[0-9:.]{12}     Read : 1 Bytes$' <<<"$log"
check "the log ends the transaction in \"Success\"" has_line "                 Success"
check "the log shows COM1 closed" has_line "                 Close: COM1"

# The frame the program says it wrote is the frame the controller received.
sent=$(sed -n 's/^                 DATA : *\(.*\)$/\1/p' <<<"$log" | head -n 1)
received=$(tail -n 1 "$out/record.txt" 2>/dev/null || true)
frame_arrived() {
  [ -n "$received" ] && [ "$sent" = "$received" ] &&
    # start byte, then the brightness command code with or without an address
    grep -qE '^A1 .. .. (43|.. 43) ' <<<"$received"
}
check "the controller received the frame the log shows ($received)" frame_arrived
check "only one frame reached the controller" test "$(grep -c . "$out/record.txt" 2>/dev/null || echo 0)" -eq 1

check "the window closes" wine "$driver" close "$title" 60
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
check "the program ends" wait_for 300 program_ended
# Whatever is left on the screen (nothing, or a message box that kept the
# program from ending).
import -window root "$out/closed.png" 2>/dev/null || true
settings=$(tr -d '\r' <"$app/Config/Config.ini")
check "the settings file keeps COM1" grep -qx 'COM=COM1' <<<"$settings"
check "the settings file holds the brightness written by Bright Set" grep -q '^Bright=' <<<"$settings"

# "Try without hardware": rq-m4x-try.exe starts rq-m4x-sim.exe with its sign
# window on the loopback and opens the program against it in a settings
# folder of its own: the user's settings file stays as it was, byte for
# byte, also when rq-m4x-try.exe is killed, and the simulator ends with it.
cp "$app/Config/Config.ini" "$out/Config.ini.before-try"
settings_untouched() { cmp -s "$out/Config.ini.before-try" "$app/Config/Config.ini"; }
sim_gone() { ! pgrep -f 'rq-m4x-sim\.exe' >/dev/null; }
start_trial() {
  (cd "$app" && exec wine rq-m4x-try.exe >>"$out/try.log" 2>&1) &
  try_pid=$!
  wine "$driver" wait "$title" 90 && wine "$driver" wait "rq-m4x-sim*" 30
}
check "Try without hardware: the windows of the program and of the sign open" start_trial
check "Try without hardware: \"Bright Set\" is pressed" wine "$driver" click "$title" "Bright Set"
wine "$driver" log "$title" "Close: tcp://127.0.0.1:" 60 >"$out/try-log.txt" 2>>"$out/driver.log" || true
import -window root "$out/try.png" 2>/dev/null || true
try_log=$(tr -d '\r' <"$out/try-log.txt")
check "Try without hardware: the simulator's port answers \"Success\"" \
  eval 'grep -qE "^[0-9:.]{12}     Open : tcp://127\.0\.0\.1:[0-9]+ ,9600 \$" <<<"$try_log" &&
    grep -qxF "                 Success" <<<"$try_log"'
check "Try without hardware: the user's settings are untouched while it runs" settings_untouched
check "Try without hardware: the window closes" wine "$driver" close "$title" 60
try_ended() { ! kill -0 "$try_pid" 2>/dev/null; }
check "Try without hardware: rq-m4x-try.exe ends, and the simulator with it" \
  eval 'wait_for 300 try_ended && wait_for 100 sim_gone'
check "Try without hardware: the user's settings are untouched after it" settings_untouched
# rq-m4x-try.exe killed (as by Task Manager, or at log-off): its job ends the
# simulator; the user's port was never replaced, so nothing is to restore.
start_trial >/dev/null 2>&1 || true
{ kill -KILL "$try_pid"; wait "$try_pid"; } 2>/dev/null || true
check "Try without hardware: killed, it takes the simulator along" wait_for 100 sim_gone
wine "$driver" close "$title" 60 >/dev/null 2>&1 || true
check "Try without hardware: killed, the user's settings are untouched" settings_untouched
# With the program open on the user's folder, the trial still opens a window
# of its own (a main window is taller than the box that says "already running").
program_windows() {
  local id n=0
  for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
    [ "$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')" -ge 400 ] && n=$((n + 1))
  done
  [ "$n" -eq 2 ]
}
(cd "$app" && exec wine rq-m4x-led-test.exe >>"$out/program.log" 2>&1) &
wine "$driver" wait "$title" 90 >/dev/null 2>&1 && start_trial >/dev/null 2>&1 || true
check "Try without hardware: the program open on the user's folder, it opens a window of its own" \
  wait_for 300 program_windows
for window in 1 2 3; do wine "$driver" close "$title" 60 >/dev/null 2>&1 || true; done
wait_for 300 try_ended || true

if [ "$failed" -ne 0 ]; then
  echo "--- log pane ---"
  cat "$out/log.txt"
  echo "--- driver ---"
  cat "$out/driver.log"
  echo "--- simulator record ---"
  cat "$out/record.txt" 2>/dev/null || true
fi
echo "screenshots: $out/startup.png $out/bright-set.png $out/closed.png $out/try.png"
summary
