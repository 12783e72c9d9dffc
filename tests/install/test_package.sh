#!/usr/bin/env bash
# Builds the Debian package with scripts/package, unpacks it into a scratch
# root, checks its manual pages, changelog, desktop entry and AppStream file as
# Debian's tools see them (man, appstreamcli, desktop-file-validate; lintian
# with no error or warning), and starts the installed launcher as a user
# with an empty home: the window must come up
# with the bundled profiles linked into the user's working directory, and a
# setting changed in the window must reach that user's Config/Config.ini when
# the window is closed.
#
# usage: test_package.sh BUILD_DIR   (built; runs under the X display in
# DISPLAY, or starts its own with xvfb-run)
set -euo pipefail

build=$(cd "${1:?usage: test_package.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
title="RQ-M4x - LED Test"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
for tool in cpack dpkg-deb dpkg-parsechangelog xdotool xprop xwininfo man appstreamcli desktop-file-validate lintian; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

scratch=$(mktemp -d)
chmod 755 "$scratch"   # the test user walks through it
pid=
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
die() { echo "FAIL: $*" >&2; exit 1; }

# ---- the package ----
# With the command the README gives, in a build directory of its own.
RQ_PACKAGE_BUILD_DIR=$build/package-build bash "$source_dir/scripts/package" "$scratch/pkg" >"$scratch/package.log" 2>&1 ||
    { cat "$scratch/package.log" >&2; die "scripts/package failed"; }
debs=("$scratch"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || die "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}

[ "$(dpkg-deb -f "$deb" Package)" = rq-m4x-led-test ] || fail "package name: $(dpkg-deb -f "$deb" Package)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libwxgtk3.2-1 libwxbase3.2-1 fonts-wqy-microhei unifont; do
    # a whole package name in the comma-separated list, version optional
    grep -Eq "(^|, )$needed( \\(|,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
usr=$root/usr
share=$usr/share/rq-m4x-led-test
programs=(rq-m4x-led-test rq-m4x-led-test-launch rq-m4x-send rq-m4x-sim)
for program in "${programs[@]}"; do
    [ -f "$usr/bin/$program" ] && [ -x "$usr/bin/$program" ] || fail "usr/bin/$program missing or not executable"
done
# Exactly the bundled profiles and images, and a compiled catalogue per source.
for dir in Modes img; do
    expected=$(cd "$source_dir/data/$dir" && ls -A)
    actual=$(cd "$share/$dir" 2>/dev/null && ls -A || true)
    [ "$expected" = "$actual" ] || fail "share/rq-m4x-led-test/$dir holds '$actual', expected '$expected'"
    for file in $expected; do
        cmp -s "$source_dir/data/$dir/$file" "$share/$dir/$file" || fail "$dir/$file differs from the source"
    done
done
for po in "$source_dir"/data/locale/*/Language.po; do
    lang=$(basename "$(dirname "$po")")
    mo=$share/locale/$lang/Language.mo
    # a GNU catalogue starts with its magic number, in either byte order
    magic=$(od -An -tx1 -N4 "$mo" 2>/dev/null | tr -d ' ')
    [ "$magic" = de120495 ] || [ "$magic" = 950412de ] || fail "$mo is not a compiled catalogue"
done
[ ! -e "$share/Config" ] || fail "the package carries a settings file"
desktop=$usr/share/applications/rq-m4x-led-test.desktop
grep -qx 'Exec=rq-m4x-led-test-launch' "$desktop" || fail "desktop entry does not start the launcher"
grep -qx 'Icon=rq-m4x-led-test' "$desktop" || fail "desktop entry names another icon"
grep -qx "Name=$title" "$desktop" || fail "desktop entry has another name"
icon=$usr/share/icons/hicolor/128x128/apps/rq-m4x-led-test.png
# PNG signature, then the IHDR width and height as 32-bit big-endian numbers
header=$(od -An -tx1 -j0 -N24 "$icon" 2>/dev/null | tr -d ' \n')
[ "${header:0:16}" = 89504e470d0a1a0a ] || fail "icon is not a PNG"
[ "${header:32:16}" = 0000008000000080 ] || fail "icon is not 128x128"

# ---- documents and metadata ----
# "man NAME" finds each page in the package's tree and renders it without a
# formatter warning.
for program in "${programs[@]}"; do
    page=$(MANPATH=$usr/share/man man -w "$program" 2>/dev/null) || { fail "man $program finds no page"; continue; }
    [ "$page" = "$usr/share/man/man1/$program.1.gz" ] || fail "man $program finds $page"
    gzip -t "$page" || fail "$page is not gzipped"
    text=$(MANWIDTH=80 MAN_KEEP_FORMATTING= man --warnings -E UTF-8 -l "$page" 2>"$scratch/man.err" | col -b)
    [ ! -s "$scratch/man.err" ] || fail "man $program warns: $(cat "$scratch/man.err")"
    grep -q "^NAME" <<<"$text" && grep -Eq "^ +$program +- " <<<"$text" || fail "man $program has no NAME line"
done
# The tools' pages, made from their --help, name every command, option and
# exit status that the installed program lists there.
for tool in rq-m4x-send rq-m4x-sim; do
    page_text=$(MANWIDTH=200 man -l "$usr/share/man/man1/$tool.1.gz" 2>/dev/null | col -b)
    help_text=$("$usr/bin/$tool" --help 2>&1 || true)
    while read -r word; do
        [ -z "$word" ] || grep -Eq -- "(^|[ ,])$word([ ,=]|$)" <<<"$page_text" || fail "man $tool lacks $word"
    done < <(sed -nE 's/^  (-h, )?(--[a-z-]+).*/\2/p; s/^  ([a-z][a-z-]+) .*/\1/p; s/^  ([a-z][a-z-]+)$/\1/p' <<<"$help_text")
    while read -r status; do
        grep -Eq "^ +$status +[A-Za-z]" <<<"$page_text" || fail "man $tool lacks exit status $status"
    done < <(sed -nE 's/^  ([0-9]+)  .*/\1/p' <<<"$help_text")
done
send_page=$(MANWIDTH=200 man -l "$usr/share/man/man1/rq-m4x-send.1.gz" 2>/dev/null | col -b)
for section in COMMANDS OPTIONS "EXIT STATUS"; do
    grep -qx "$section" <<<"$send_page" || fail "man rq-m4x-send has no $section section"
done
for status in 0 1 2 3 4 5 6 7 8; do
    grep -Eq "^ +$status +[A-Za-z]" <<<"$send_page" || fail "man rq-m4x-send lacks exit status $status"
done

desktop-file-validate "$desktop" >"$scratch/desktop.log" 2>&1 || fail "desktop-file-validate: $(cat "$scratch/desktop.log")"
metainfo=$usr/share/metainfo/example.telvo.rq_m4x_led_test.metainfo.xml
appstreamcli validate --no-net --no-color "$metainfo" >"$scratch/appstream.log" 2>&1 ||
    fail "appstreamcli validate: $(cat "$scratch/appstream.log")"
grep -q "<launchable type=\"desktop-id\">rq-m4x-led-test.desktop</launchable>" "$metainfo" ||
    fail "the AppStream file does not launch the desktop entry"

changelog=$usr/share/doc/rq-m4x-led-test/changelog.Debian.gz
version=$(dpkg-deb -f "$deb" Version)
maintainer=$(dpkg-deb -f "$deb" Maintainer)
zcat "$changelog" >"$scratch/changelog" 2>/dev/null || fail "no gzipped changelog.Debian"
[ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Version 2>/dev/null)" = "$version" ] ||
    fail "the changelog's first entry is not version $version"
[ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Maintainer 2>/dev/null)" = "$maintainer" ] ||
    fail "the changelog names another maintainer than $maintainer"
grep -Eq '^[^<]+ <[^@> ]+@[^@> ]+\.[a-z]+>$' <<<"$maintainer" && ! grep -qi '@localhost' <<<"$maintainer" ||
    fail "maintainer address: $maintainer"

# lintian: no error and no warning.
lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
if grep -E '^[EW]: ' "$scratch/lintian.log"; then fail "lintian complains (above)"; fi

# ---- a user with an empty home ----
home=$scratch/home
mkdir -m 700 "$home"
if [ "$(id -u)" -eq 0 ]; then
    # nobody: a real unprivileged account that needs no changes to the system
    user_id=$(id -u nobody)
    group_id=$(id -g nobody)
    as_user=(setpriv --reuid="$user_id" --regid="$group_id" --clear-groups --)
else
    user_id=$(id -u)
    group_id=$(id -g)
    as_user=()
fi
user_env=(HOME="$home" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" NO_AT_BRIDGE=1 LANG=C.UTF-8 GSETTINGS_BACKEND=memory)
if [ -n "${XAUTHORITY:-}" ] && [ -r "$XAUTHORITY" ]; then
    # The display's cookie, for any host name, in a file the user can read.
    touch "$home/.Xauthority"
    xauth -f "$XAUTHORITY" nlist "$DISPLAY" | sed 's/^..../ffff/' | xauth -q -f "$home/.Xauthority" nmerge -
    user_env+=(XAUTHORITY="$home/.Xauthority")
fi
chown -R "$user_id:$group_id" "$home"

work=$home/.local/share/rq-m4x-led-test
settings=$work/Config/Config.ini

"${as_user[@]}" env -i "${user_env[@]}" "$usr/bin/rq-m4x-led-test-launch" >"$scratch/program.log" 2>&1 &
pid=$!   # every step execs, so this is the program itself

show_log() { echo "--- program output:" >&2; cat "$scratch/program.log" >&2; }

# The window, with its title, mapped; at most 30 s.
window_of() { # title
    xdotool search --all --onlyvisible --pid "$pid" --name "^$1\$" 2>/dev/null | head -n1
}
wait_for_window() { # title
    local id
    for _ in $(seq 300); do
        id=$(window_of "$1")
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
window=$(wait_for_window "$title") || { show_log; die "no window titled \"$title\""; }
name=$(xprop -id "$window" _NET_WM_NAME)
[ "$name" = "_NET_WM_NAME(UTF8_STRING) = \"$title\"" ] || fail "window name: $name"
xwininfo -id "$window" | grep -q 'Map State: IsViewable' || fail "the window is not viewable"

# It stays up: watch it for 2 s.
for _ in $(seq 20); do
    kill -0 "$pid" 2>/dev/null || { show_log; die "the program ended by itself"; }
    sleep 0.1
done

# The user's working directory links the installed data, owned by the user.
for rel in Modes/RQ-M4T.ini Modes/RQ-M4S.ini img/aaaa.png img/OK.png locale/zh_CN/Language.mo; do
    [ -L "$work/$rel" ] && [ "$(readlink "$work/$rel")" = "$share/$rel" ] ||
        fail "$rel is not a link to the installed file"
done
[ "$(stat -c %u "$work/Modes")" = "$user_id" ] || fail "Modes/ does not belong to the user"
# First start: the model with commands is preselected, nothing else.
[ "$(cat "$settings" 2>/dev/null)" = "$(printf '[Setting]\nMode=RQ-M4T')" ] ||
    fail "first-start settings: $(cat "$settings" 2>/dev/null)"

# Choose Chinese in the Settings menu, confirm the notice, and close the
# window with its Quit accelerator: the choice must be saved on the way out.
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+s l s
notice=$(wait_for_window "Language Setting") || { show_log; die "no notice after choosing the language"; }
xdotool windowfocus --sync "$notice"
xdotool key Return
for _ in $(seq 100); do [ -z "$(window_of "Language Setting")" ] && break; sleep 0.1; done
[ -z "$(window_of "Language Setting")" ] || die "the notice did not close"
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+F4
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
    show_log
    die "the program did not end after Alt+F4"
fi
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || { show_log; fail "the program ended with status $status"; }

expected=$(printf '[Setting]\nMode=RQ-M4T\nlang=46')
[ "$(cat "$settings" 2>/dev/null)" = "$expected" ] ||
    fail "settings after closing: '$(cat "$settings" 2>/dev/null)', expected '$expected'"
[ "$(stat -c %u "$settings")" = "$user_id" ] || fail "Config.ini does not belong to the user"

# ---- a newer installation elsewhere: links follow it, the user's files stay ----
echo "; my own model" >"$work/Modes/Mine.ini"
# A link of the user's own to a copy kept elsewhere, in a tree laid out like an installation.
mkdir -p "$scratch/copy/share/rq-m4x-led-test/Modes"
echo "; kept elsewhere" >"$scratch/copy/share/rq-m4x-led-test/Modes/Copy.ini"
ln -s "$scratch/copy/share/rq-m4x-led-test/Modes/Copy.ini" "$work/Modes/Copy.ini"
rm "$work/img/OK.png"
echo "my picture" >"$work/img/OK.png"
newer=$scratch/newer
cp -a "$root" "$newer"
rm "$newer/usr/share/rq-m4x-led-test/Modes/RQ-M4S.ini"
# The program is not needed for this part: the launcher's last step is
# exec, so a stand-in shows where it ran.
printf '#!/bin/sh\npwd >"$HOME/launched-in"\n' >"$newer/usr/bin/rq-m4x-led-test"
chown -R "$user_id:$group_id" "$home"
"${as_user[@]}" env -i "${user_env[@]}" "$newer/usr/bin/rq-m4x-led-test-launch" ||
    fail "the newer launcher failed"
[ "$(cat "$home/launched-in" 2>/dev/null)" = "$work" ] || fail "the program did not start in $work"
newshare=$newer/usr/share/rq-m4x-led-test
[ "$(readlink "$work/Modes/RQ-M4T.ini")" = "$newshare/Modes/RQ-M4T.ini" ] ||
    fail "Modes/RQ-M4T.ini still points at the older installation"
[ "$(readlink "$work/locale/zh_CN/Language.mo")" = "$newshare/locale/zh_CN/Language.mo" ] ||
    fail "the catalogue still points at the older installation"
[ ! -e "$work/Modes/RQ-M4S.ini" ] && [ ! -L "$work/Modes/RQ-M4S.ini" ] ||
    fail "a profile the newer installation dropped is still listed"
[ "$(cat "$work/Modes/Mine.ini")" = "; my own model" ] || fail "the user's own profile changed"
[ "$(cat "$work/img/OK.png")" = "my picture" ] || fail "the user's own image was replaced"
[ "$(cat "$work/Modes/Copy.ini" 2>/dev/null)" = "; kept elsewhere" ] || fail "the user's own link was removed"
[ "$(cat "$settings")" = "$expected" ] || fail "the newer installation touched the settings"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package: all checks passed ($(basename "$deb"))"
