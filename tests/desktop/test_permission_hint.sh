#!/usr/bin/env bash
# The port dialog as a user outside the port's group meets it on a desktop:
# a throwaway user, a USB adapter's node it may not open (a link
# /dev/ttyUSBn to a pseudo-terminal of group dialout, mode 660), openbox on
# a private Xvfb. The window test named below scans that node for real and
# checks that the hint naming the group shows whole, in English and Chinese.
# Needs root (to make the user and the node); removes all it made.
#
# usage: test_permission_hint.sh GUI_TESTS SIMULATOR
set -euo pipefail

gui_tests=${1:?usage: test_permission_hint.sh GUI_TESTS SIMULATOR}
simulator=${2:?usage: test_permission_hint.sh GUI_TESTS SIMULATOR}
here=$(cd "$(dirname "$0")" && pwd)
skip=77

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root to create a user and a device node" >&2
    exit $skip
fi
getent group dialout >/dev/null || { echo "SKIP: no group dialout" >&2; exit $skip; }

user=rq-hint-$$
scratch=$(mktemp -d)
chmod 755 "$scratch"
sim=
node=
made_user=
cleanup() {
    [ -n "$node" ] && rm -f "$node"
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
    [ -n "$made_user" ] && userdel "$user" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

useradd --no-create-home --home-dir "$scratch/home" --shell /usr/sbin/nologin --user-group "$user"
made_user=1
mkdir -m 700 "$scratch/home"
chown "$user:$user" "$scratch/home"
if id -nG "$user" | tr ' ' '\n' | grep -qx dialout; then
    echo "FAIL: the new user is already in dialout" >&2
    exit 1
fi

# A pseudo-terminal that stays while the simulated controller holds it.
"$simulator" >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim=$!
for _ in $(seq 100); do
    pty=$(head -n1 "$scratch/sim.out" 2>/dev/null || true)
    [ -n "$pty" ] && break
    kill -0 "$sim" 2>/dev/null || { cat "$scratch/sim.err" >&2; echo "FAIL: the simulator ended" >&2; exit 1; }
    sleep 0.1
done
[ -c "${pty:-}" ] || { echo "FAIL: no pseudo-terminal from the simulator: '${pty:-}'" >&2; exit 1; }
chgrp dialout "$pty"
chmod 660 "$pty"
for n in $(seq 90 199); do
    if [ ! -e "/dev/ttyUSB$n" ] && [ ! -L "/dev/ttyUSB$n" ]; then
        ln -s "$pty" "/dev/ttyUSB$n"
        node=/dev/ttyUSB$n
        break
    fi
done
[ -n "$node" ] || { echo "FAIL: no free /dev/ttyUSBn name" >&2; exit 1; }

# The test binary runs as the user: it and the runtime data must be readable.
"$here/with_window_manager.sh" bash -c '
    set -euo pipefail
    user=$1 home=$2 node=$3 gui_tests=$4
    env=(HOME="$home" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" NO_AT_BRIDGE=1 LANG=C.UTF-8
         GSETTINGS_BACKEND=memory RQ_WINDOW_MANAGER="$RQ_WINDOW_MANAGER" RQ_DENIED_PORT="$node")
    [ -n "${RQ_SCREENSHOT_DIR:-}" ] && env+=(RQ_SCREENSHOT_DIR="$RQ_SCREENSHOT_DIR")
    if [ -n "${XAUTHORITY:-}" ] && [ -r "$XAUTHORITY" ]; then
        # The display cookie for any host name, in a file the user can read.
        touch "$home/.Xauthority"
        xauth -f "$XAUTHORITY" nlist "$DISPLAY" | sed "s/^..../ffff/" | xauth -q -f "$home/.Xauthority" nmerge -
        chown "$user:" "$home/.Xauthority"
        env+=(XAUTHORITY="$home/.Xauthority")
    fi
    cd "$home"
    setpriv --reuid="$user" --regid="$user" --init-groups -- env -i "${env[@]}" \
        "$gui_tests" --gtest_filter="*CommunSetDesktop.RealScan*"
' hint "$user" "$scratch/home" "$node" "$gui_tests" 2>&1 | tee "$scratch/test.log"
# Both languages ran and passed: none skipped, none filtered away.
grep -q '^\[  PASSED  \] 2 tests\.$' "$scratch/test.log" && ! grep -q 'SKIPPED' "$scratch/test.log" ||
    { echo "FAIL: the real-scan test did not pass in both languages" >&2; exit 1; }
echo "permission hint: shown whole after a real scan as $user"
