#!/usr/bin/env bash
# Starts the program as an operator does, in a fresh copy of its working
# directory, waits for its window, closes it, and fails on any GTK warning
# or critical it wrote to standard error, and, in English, on a locale
# warning. Run it bare and under with_window_manager.sh; GTK_THEME may be set
# by the caller.
#
# usage: test_startup_stderr.sh PROGRAM RUNTIME_DIR [LANGUAGE_NUMBER]
set -euo pipefail

program=${1:?usage: test_startup_stderr.sh PROGRAM RUNTIME_DIR [LANGUAGE_NUMBER]}
runtime=${2:?usage: test_startup_stderr.sh PROGRAM RUNTIME_DIR [LANGUAGE_NUMBER]}
language=${3:-}
title="RQ-M4x - LED Test"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

scratch=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT

cp -r "$runtime/Modes" "$runtime/img" "$runtime/locale" "$scratch/"
mkdir "$scratch/Config"
if [ -n "$language" ]; then printf '[Setting]\nlang=%s\n' "$language" >"$scratch/Config/Config.ini"; fi

(cd "$scratch" && exec env NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory "$program" 2>"$scratch/stderr") &
pid=$!

# The warning came with the window's first layout, before it was mapped:
# once it is viewable, close it as the operator would.
window=
for _ in $(seq 300); do
    window=$(xdotool search --all --onlyvisible --pid "$pid" --name "^$title\$" 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$window" ] || { cat "$scratch/stderr" >&2; echo "FAIL: no window titled \"$title\"" >&2; exit 1; }
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+F4
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: the program did not end after Alt+F4" >&2; exit 1; fi
status=0
wait "$pid" || status=$?
pid=

if grep -E 'Gtk-(CRITICAL|WARNING)' "$scratch/stderr" >&2; then
    echo "FAIL: GTK complained on standard error (above)" >&2
    exit 1
fi
# English is the built-in language: no system locale for it is worth a word.
if [ -z "$language" ] && grep 'Cannot set locale' "$scratch/stderr" >&2; then
    echo "FAIL: a locale warning on standard error (above) where English is the built-in language" >&2
    exit 1
fi
[ "$status" -eq 0 ] || { cat "$scratch/stderr" >&2; echo "FAIL: the program ended with status $status" >&2; exit 1; }
echo "start-up: no GTK warning on standard error"
