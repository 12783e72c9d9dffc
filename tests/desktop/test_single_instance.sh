#!/usr/bin/env bash
# Two starts in one settings folder leave one window: the second brings it
# forward and ends with status 0. A start in another folder still opens its
# own window; SIGINT closes one as its Quit does. Run under with_window_manager.sh.
#
# usage: test_single_instance.sh PROGRAM RUNTIME_DIR
set -euo pipefail

program=${1:?usage: test_single_instance.sh PROGRAM RUNTIME_DIR}
runtime=${2:?usage: test_single_instance.sh PROGRAM RUNTIME_DIR}
title="RQ-M4x - LED Test"

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# One station's folder; the lock files go under a private home.
mkdir "$scratch/home"
for station in a b; do
    mkdir "$scratch/$station"
    cp -r "$runtime/Modes" "$runtime/img" "$runtime/locale" "$scratch/$station/"
    mkdir "$scratch/$station/Config"
done

start() {  # start FOLDER: the new process's id in $started
    (cd "$1" && exec env HOME="$scratch/home" NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory "$program" \
        2>>"$scratch/stderr") &
    started=$!
    pids+=("$started")
}

window_of() {  # window_of PID: waits for its first visible window, prints its id
    local window=
    for _ in $(seq 300); do
        window=$(xdotool search --all --onlyvisible --pid "$1" --name "^$title\$" 2>/dev/null | head -n1 || true)
        [ -n "$window" ] && { echo "$window"; return 0; }
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

window_type() { xprop -id "$1" _NET_WM_WINDOW_TYPE | sed 's/.*_NET_WM_WINDOW_TYPE_//'; }

main_windows() {
    local count=0 window
    for window in $(xdotool search --all --onlyvisible --name "^$title\$" 2>/dev/null || true); do
        [ "$(window_type "$window")" = NORMAL ] && count=$((count + 1))
    done
    echo "$count"
}

wait_end() {  # wait_end PID: its exit status in $ended
    for _ in $(seq 300); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$1" 2>/dev/null && return 1
    ended=0
    wait "$1" || ended=$?
}

start "$scratch/a"
first=$started
first_window=$(window_of "$first") || { cat "$scratch/stderr" >&2; fail "the first start opened no window"; }

start "$scratch/b"
other=$started
window=$(window_of "$other") || { cat "$scratch/stderr" >&2; fail "a start in another folder opened no window"; }
[ "$(window_type "$window")" = NORMAL ] || fail "a start in another folder opened no main window"
[ "$(main_windows)" = 2 ] || fail "$(main_windows) main windows for two folders, not 2"
xdotool windowactivate --sync "$window"

# A second start in the first folder brings that window forward and ends.
start "$scratch/a"
second=$started
wait_end "$second" || fail "the second start in one folder did not end"
[ "$ended" -eq 0 ] || fail "the second start ended with status $ended"
for _ in $(seq 100); do [ "$(xdotool getactivewindow)" = "$first_window" ] && break; sleep 0.1; done
[ "$(xdotool getactivewindow)" = "$first_window" ] || fail "the first window did not come forward"
[ "$(main_windows)" = 2 ] || fail "$(main_windows) main windows after a second start, not 2"

# Ctrl-C in its terminal (SIGINT) closes a window as its Quit does.
kill -INT "$first"
wait_end "$first" || fail "a window did not end after SIGINT"
[ "$ended" -eq 0 ] || fail "a window ended with status $ended after SIGINT"
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+F4
wait_end "$other" || fail "a window did not end after Alt+F4"
[ "$ended" -eq 0 ] || fail "a window ended with status $ended"
echo "one window per settings folder: a second start brings it forward, another folder opens its own"
