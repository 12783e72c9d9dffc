#!/usr/bin/env bash
# Checks scripts/run's choice of serial port and its care of Config/Config.ini,
# with the real simulated controller and a stand-in for the program that
# records what it found and talks to the port it was given.
#
# usage: test_run_script.sh BUILD_DIR   (rq-m4x-sim, rq-m4x-send and the manual
#        pages must be built there)
set -euo pipefail

build=$(cd "${1:?usage: test_run_script.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
sim=$build/tools/rq-m4x-sim
[ -x "$sim" ] || { echo "missing $sim" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fake=$scratch/build
runtime=$fake/runtime
mkdir -p "$fake/tools" "$runtime"
ln -s "$sim" "$fake/tools/rq-m4x-sim"

# The stand-in: notes its directory and the port in the settings file, sends
# one Bright Set frame (no address byte, level 5) when the port is a terminal,
# notes the status byte, and ends as FAKE_EXIT says.
cat >"$fake/rq-m4x-led-test" <<'FAKE'
#!/usr/bin/env bash
set -u
export LC_ALL=C   # bytes, not characters
out=$PWD/observed
: >"$out"
echo "cwd=$PWD" >>"$out"
echo "args=$#" >>"$out"
port=$(tr -d '\r' <Config/Config.ini | sed -n 's/^COM=//p' | head -n1)
echo "port=$port" >>"$out"
if [ -c "$port" ]; then
    exec 3<>"$port"
    printf '\xA1\x07\xF8\x43\x05\xE8\x51' >&3
    if IFS= read -r -t 5 -N 1 -d '' reply <&3; then
        printf 'reply=%02X\n' "'$reply" >>"$out"
    else
        echo "reply=none" >>"$out"
    fi
    exec 3<&-
else
    echo "reply=no-terminal" >>"$out"
fi
# The real program saves the settings file whole when its window closes.
if [ -n "${FAKE_SAVE:-}" ]; then
    sed -i "s|^COM=.*|COM=$FAKE_SAVE|" Config/Config.ini
fi
case ${FAKE_EXIT:-0} in
    kill) kill -KILL $$ ;;
    *) exit "${FAKE_EXIT:-0}" ;;
esac
FAKE
chmod +x "$fake/rq-m4x-led-test"

settings=$runtime/Config/Config.ini
link=$runtime/sim-port
failures=0

fail() { echo "FAIL [$case_name]: $*" >&2; failures=$((failures + 1)); }
expect_eq() { # what expected actual
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}
observed() { sed -n "s/^$1=//p" "$runtime/observed" 2>/dev/null; }
run() { # arguments for scripts/run; sets status
    rm -f "$runtime/observed"
    status=0
    RQ_BUILD_DIR=$fake "$root/scripts/run" --no-build "$@" 2>"$scratch/stderr" || status=$?
}
reset_settings() { # [printf format [arguments]]: the settings file's content
    rm -rf "$runtime/Config"
    if [ $# -gt 0 ]; then
        mkdir -p "$runtime/Config"
        # shellcheck disable=SC2059  # the format is the content
        printf "$@" >"$settings"
    fi
}
no_simulator_left() {
    [ ! -e "$link" ] && [ ! -L "$link" ] || fail "the simulator link is still there"
}

case_name="first run without settings uses the simulator"
reset_settings
run
expect_eq "exit status" 0 "$status"
expect_eq "working directory" "$runtime" "$(observed cwd)"
expect_eq "program arguments" 0 "$(observed args)"
expect_eq "port" "$link" "$(observed port)"
expect_eq "status byte from the simulator" 0F "$(observed reply)"
expect_eq "settings file" "[SerialPort]
COM=$link" "$(cat "$settings")"
no_simulator_left

case_name="other keys, comments and line ends stay as they were"
reset_settings '; operator notes\r\n[LED]\r\nWidth=96\r\n\r\n[SerialPort]\r\nBSP=19200\r\n; keep\r\n[Text]\r\nChoice1=1\r\n'
run
expect_eq "status byte" 0F "$(observed reply)"
expect_eq "settings file" "$(printf '; operator notes\r\n[LED]\r\nWidth=96\r\n\r\n[SerialPort]\r\nBSP=19200\r\nCOM=%s\r\n; keep\r\n[Text]\r\nChoice1=1\r\n' "$link" | od -c)" "$(od -c <"$settings")"

case_name="a link left by an earlier run counts as no port"
reset_settings '[SerialPort]\nCOM=%s\nBSP=9600\n' "$link"
ln -s /dev/pts/nonexistent "$link"   # as a killed simulator leaves it
run
expect_eq "status byte" 0F "$(observed reply)"
expect_eq "settings file" "[SerialPort]
COM=$link
BSP=9600" "$(cat "$settings")"
no_simulator_left

case_name="the link written relative to the working directory counts as no port"
reset_settings '[SerialPort]\ncom=./sim-port\n'
run
expect_eq "status byte" 0F "$(observed reply)"
expect_eq "settings file" "[SerialPort]
COM=$link" "$(cat "$settings")"

case_name="a configured port is used as it is"
reset_settings '[SerialPort]\nCOM=/dev/ttyUSB9\nBSP=9600\n'
run
expect_eq "exit status" 0 "$status"
expect_eq "port" /dev/ttyUSB9 "$(observed port)"
expect_eq "no simulator" no-terminal "$(observed reply)"
expect_eq "settings file" "[SerialPort]
COM=/dev/ttyUSB9
BSP=9600" "$(cat "$settings")"

case_name="--port writes the port and starts no simulator"
reset_settings '[LED]\nWidth=80\n'
run --port /dev/ttyUSB3
expect_eq "port" /dev/ttyUSB3 "$(observed port)"
expect_eq "no simulator" no-terminal "$(observed reply)"
expect_eq "settings file" "[LED]
Width=80
[SerialPort]
COM=/dev/ttyUSB3" "$(cat "$settings")"
no_simulator_left

case_name="a port name is stored as the program reads it back"
# The program unescapes backslashes and expands $NAME unless escaped.
reset_settings
run --port '/dev/odd $HOME\x'
expect_eq "settings file" '[SerialPort]
COM=/dev/odd \\$HOME\\x' "$(cat "$settings")"
run --port ' /dev/lead"ing'
expect_eq "settings file" '[SerialPort]
COM=" /dev/lead\"ing"' "$(cat "$settings")"
run --simulated
expect_eq "the escaped port comes back after a simulated run" '[SerialPort]
COM=" /dev/lead\"ing"' "$(cat "$settings")"

case_name="--simulated is for one run: the configured port comes back"
reset_settings '[SerialPort]\nCOM=/dev/ttyUSB3\n'
run --simulated
expect_eq "port during the run" "$link" "$(observed port)"
expect_eq "status byte" 0F "$(observed reply)"
expect_eq "settings file" "[SerialPort]
COM=/dev/ttyUSB3" "$(cat "$settings")"
no_simulator_left

case_name="a port the operator chose during a simulated run is kept"
reset_settings '[SerialPort]\nCOM=/dev/ttyUSB3\n'
FAKE_SAVE=/dev/ttyACM0 run --simulated
expect_eq "settings file" "[SerialPort]
COM=/dev/ttyACM0" "$(cat "$settings")"

case_name="options after -- go to the simulator"
reset_settings '[SerialPort]\nCOM=/dev/ttyUSB3\n'
run -- --status F1
expect_eq "status byte" F1 "$(observed reply)"
expect_eq "settings file" "[SerialPort]
COM=/dev/ttyUSB3" "$(cat "$settings")"

case_name="without a model chosen the one with commands is selected"
reset_settings '[Setting]\nlang=46\n'
mkdir -p "$runtime/Modes"
touch "$runtime/Modes/RQ-M4T.ini"
run --port /dev/ttyUSB3
expect_eq "settings file" "[Setting]
lang=46
Mode=RQ-M4T
[SerialPort]
COM=/dev/ttyUSB3" "$(cat "$settings")"
reset_settings '[Setting]\nMode=RQ-M4S\n'
run --port /dev/ttyUSB3
expect_eq "a chosen model is kept" "[Setting]
Mode=RQ-M4S
[SerialPort]
COM=/dev/ttyUSB3" "$(cat "$settings")"
rm -rf "$runtime/Modes"

# The stand-in's frame has no address: a sign told by the profile that frames
# carry one reads 0x43 as the address and 0x05 as an unknown code.
case_name="the simulated sign is told how the model's frames are addressed"
mkdir -p "$runtime/Modes"
for lock in "0 F1" "1 0F" "x 0F" "00 F1"; do
    printf '[Lock]\nid=%s\n' "${lock% *}" >"$runtime/Modes/RQ-M4T.ini"
    reset_settings '[Setting]\nMode=RQ-M4T\n'
    run
    expect_eq "status byte with Lock/id=${lock% *}" "${lock#* }" "$(observed reply)"
done
rm -rf "$runtime/Modes"

case_name="the program's exit status comes back and the simulator stops"
reset_settings
FAKE_EXIT=3 run
expect_eq "exit status" 3 "$status"
no_simulator_left
FAKE_EXIT="kill" run
expect_eq "exit status of a killed program" 137 "$status"
no_simulator_left
[ -z "$(pgrep -f -- "--link $link" || true)" ] || fail "a simulator still runs"

case_name="the simulator refusing its options stops the run"
reset_settings
run -- --status XYZ
[ "$status" -ne 0 ] || fail "exit status 0"
[ ! -e "$runtime/observed" ] || fail "the program was started"

case_name="unknown arguments are refused before anything starts"
reset_settings
run --verbose
expect_eq "exit status" 2 "$status"
[ ! -e "$runtime/observed" ] || fail "the program was started"
[ ! -e "$settings" ] || fail "the settings file was written"
run --port
expect_eq "exit status of --port without a name" 2 "$status"

case_name="what the README has a newcomer try next is built by scripts/run"
# A stand-in for cmake: configuring does nothing, and building a target links
# its files from the real build into the fake one, so afterwards the fake
# build holds what scripts/run asked for and nothing more.
mkdir -p "$scratch/bin"
cat >"$scratch/bin/cmake" <<'CMAKE'
#!/usr/bin/env bash
[ "${1:-}" = --build ] || exit 0
into=$2
shift 2
while [ $# -gt 0 ]; do
    if [ "$1" = --target ]; then
        case $2 in
            rq-m4x-send) ln -sf "$REAL_BUILD/tools/rq-m4x-send" "$into/tools/rq-m4x-send" ;;
            rq_docs) ln -sfn "$REAL_BUILD/doc" "$into/doc" ;;
        esac
        shift
    fi
    shift
done
CMAKE
chmod +x "$scratch/bin/cmake"
reset_settings '[SerialPort]\nCOM=/dev/ttyUSB9\n'
status=0
PATH=$scratch/bin:$PATH REAL_BUILD=$build RQ_BUILD_DIR=$fake "$root/scripts/run" >/dev/null 2>"$scratch/stderr" ||
    status=$?
expect_eq "exit status" 0 "$status"
for command in "build/tools/rq-m4x-send --list-ports" "man -l build/doc/rq-m4x-send.1"; do
    grep -qF "$command" "$root/README.md" || fail "the README no longer shows $command"
    # shellcheck disable=SC2086  # the command's words
    (cd "$scratch" && MANPAGER=cat $command >/dev/null 2>"$scratch/stderr") ||
        fail "$command failed after scripts/run: $(cat "$scratch/stderr")"
done
rm -rf "$fake/doc" "$fake/tools/rq-m4x-send"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "scripts/run: all checks passed"
