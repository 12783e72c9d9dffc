#!/usr/bin/env bash
# Runs the "Trying it without hardware" example of the command-line guide
# (docs/command-line.md, linked from the README) as a newcomer would paste
# it, with the build directory given here in place of build/: it must end in
# "Success" with exit status 0.
#
# usage: test_readme_example.sh BUILD_DIR   (rq-m4x-sim and rq-m4x-send built there)
set -euo pipefail

build=$(cd "${1:?usage: test_readme_example.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)

# The first sh block after the heading.
guide=$root/docs/command-line.md
example=$(awk '/^## Trying it without hardware/ { found = 1 }
               found && /^```sh/ { inside = 1; next }
               inside && /^```/ { exit }
               inside { print }' "$guide")
[ -n "$example" ] || { echo "FAIL: no example under \"## Trying it without hardware\" in $guide" >&2; exit 1; }
grep -q 'rq-m4x-sim' <<<"$example" || { echo "FAIL: the example starts no simulated controller" >&2; exit 1; }

scratch=$(mktemp -d)
group=
cleanup() {
    # A simulated controller that got no frame would wait for ever.
    [ -n "$group" ] && kill -- -"$group" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
# Run where the guide says (the checkout), reaching the tools through build/,
# in a process group of its own.
mkdir "$scratch/checkout"
ln -s "$build" "$scratch/checkout/build"
(cd "$scratch/checkout" && exec setsid timeout 30 bash -c "$example") >"$scratch/out" 2>&1 &
group=$!
status=0
wait "$group" || status=$?
if [ "$status" -ne 0 ] || ! grep -qx ' *Success' "$scratch/out"; then
    echo "FAIL: the command-line guide's example ended with status $status:" >&2
    cat "$scratch/out" >&2
    exit 1
fi
echo "command-line guide example: passed"
