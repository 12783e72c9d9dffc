#!/usr/bin/env bash
# Runs a command on a private Xvfb display managed by openbox, as on a
# technician's desktop: dialogs get title bars, so their client areas are
# smaller than the sizes they are given.
#
# usage: with_window_manager.sh COMMAND [ARGUMENTS...]
# RQ_WM_SCREEN sets the screen's size in pixels (default 1280x1024).
set -euo pipefail

# A display that cannot be opened at once (xvfb-run -a may pick the number of
# a server that is just going away) is tried again on a new one.
display_lost=75
if [ "${RQ_WM_STARTED:-}" != 1 ]; then
    for attempt in 1 2 3; do
        status=0
        RQ_WM_STARTED=1 xvfb-run -a -s "-screen 0 ${RQ_WM_SCREEN:-1280x1024}x24" "$0" "$@" || status=$?
        [ "$status" = "$display_lost" ] || exit "$status"
        echo "with_window_manager.sh: the display could not be opened (attempt $attempt)" >&2
    done
    exit 1
fi
command -v openbox >/dev/null || { echo "missing tool: openbox (scripts/install-deps)" >&2; exit 1; }

config=$(mktemp -d)
wm=
cleanup() {
    if [ -n "$wm" ]; then kill "$wm" 2>/dev/null || true; wait "$wm" 2>/dev/null || true; fi
    rm -rf "$config"
}
trap cleanup EXIT

# Its own empty settings, so nothing of the machine's openbox setup counts.
XDG_CONFIG_HOME=$config openbox --sm-disable >"$config/openbox.log" 2>&1 &
wm=$!
# The manager announces itself on the root window once it manages windows.
for _ in $(seq 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    if ! kill -0 "$wm" 2>/dev/null; then
        cat "$config/openbox.log" >&2
        echo "openbox ended" >&2
        grep -q "Failed to open the display" "$config/openbox.log" && exit "$display_lost"
        exit 1
    fi
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    { echo "openbox did not start managing the display" >&2; exit 1; }

status=0
RQ_WINDOW_MANAGER=openbox "$@" || status=$?
exit "$status"
