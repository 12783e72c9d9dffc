#!/usr/bin/env bash
# The Windows installer under Wine and Xvfb, as a user without administrator
# rights meets it: a silent install puts the zip's files into the user's own
# programs folder, with an uninstall entry, a Start-menu shortcut and a
# first-start settings file; both executables carry their version resource;
# the shortcut starts the window in the installation folder with the bundled
# RQ-M4T profile, and "Bright Set" travels through COM1 (a pseudo-terminal)
# to the simulated controller. A silent uninstall removes the program files
# and keeps the settings file and a profile of the user's own; a new install
# over them keeps the settings. While the program runs, the installer and
# the uninstaller refuse (non-zero, nothing changed), an upgrade whose pages
# were open when the program started among them; `uninstall.exe /S` waits and
# ends with the real status, and an uninstall leaves only the user's files
# (no folder when there are none); an upgrade removes what
# only an older version installed and keeps an edited bundled profile (the
# new one beside it as .new); a first install on a Chinese Windows starts the
# program in Chinese.
#
# Needs scripts/build-windows to have run (RQ_WIN_BUILD_DIR, default
# build-windows). Logs and screenshots go to <build dir>/installer/. Prints
# "N passed, N failed" last; exits non-zero on a failure.
#
# Only COM1 is mapped and used; the installation is removed again at the end,
# so the Wine prefix the other tests share is left as it was.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

# A PE reader for the version resources and a reader of shortcut files.
install_installer_test_packages() {
  install_missing_packages python3-pefile liblnk-utils
}

# A display of our own, unless this is the run inside it.
if [ -z "${RQ_INSTALLER_DISPLAY:-}" ]; then
  install_wine_packages
  install_installer_test_packages
  exec env RQ_INSTALLER_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

title="RQ-M4x - LED Test"
# The installer's pages, as NSIS captions them (with its trailing blank).
setup_title="$title Setup "
version=1.0.3.411
maker=TELVO
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\rq-m4x-led-test'
out=$wine_build/installer
installer_path_file=$wine_build/cross/windows_installer_path
zip_path_file=$wine_build/cross/windows_zip_path
driver=$wine_build/cross/rq-wine-driver.exe
[ -f "$installer_path_file" ] && [ -f "$zip_path_file" ] && [ -f "$driver" ] || {
  echo "installer: no Windows build in $wine_build; run scripts/build-windows first" >&2
  echo "0 passed, 1 failed"
  exit 1
}
installer=$(cat "$installer_path_file")
zip=$(cat "$zip_path_file")
simulator=$(find_simulator) || require false find_simulator
rm -rf "$out"
mkdir -p "$out/zip"
(cd "$out/zip" && cmake -E tar xf "$zip")
package=$(find "$out/zip" -mindepth 1 -maxdepth 1 -type d | head -n 1)
# The zip's files, relative to its folder: what the installer must install.
mapfile -t package_files < <(cd "$package" && find . -type f | sed 's|^\./||' | sort)

# Whatever an earlier run left: folder, shortcut and uninstall entry.
install_dir=""
shortcut=""
try_shortcut=""
remove_installation() {
  [ -n "$install_dir" ] && [ -n "$shortcut" ] || return 0
  rm -rf "$install_dir"
  rm -f "$shortcut" "$try_shortcut"
  wine reg delete "$uninstall_key" /f >/dev/null 2>&1 || true
}
program_started=0
cleanup() {
  if [ "$program_started" = 1 ]; then
    wine "$driver" close "$title" 10 >/dev/null 2>&1 || true
  fi
  remove_installation
  wineserver -k 2>/dev/null || true
  stop_simulators
}
trap cleanup EXIT

require wine_prefix "$wine_build/wine-prefix"
# Shortcuts made in the prefix stay there, out of the host's menus.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

# Windows' folders for this user, and their places on this side.
windows_folder() { wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r' | tail -n 1; }
local_appdata=$(windows_folder LOCALAPPDATA)
appdata=$(windows_folder APPDATA)
require test -n "$local_appdata"
require test -n "$appdata"
install_dir_win="$local_appdata\\Programs\\$title"
shortcut_win="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\$title.lnk"
# The folders below these may not exist yet, which winepath does not map.
local_appdata_unix=$(winepath -u "$local_appdata" 2>/dev/null)
appdata_unix=$(winepath -u "$appdata" 2>/dev/null)
require test -d "$local_appdata_unix"
require test -d "$appdata_unix"
install_dir="${local_appdata_unix%/}/Programs/$title"
shortcut="${appdata_unix%/}/Microsoft/Windows/Start Menu/Programs/$title.lnk"
try_shortcut="${appdata_unix%/}/Microsoft/Windows/Start Menu/Programs/Try without hardware.lnk"
remove_installation

require start_simulator "$out/pty.txt" --record "$out/record.txt"
pty=$(head -n 1 "$out/pty.txt")
require map_ports COM1 "$pty"

# ---- install ----
run_installer() { wine "$installer" /S >"$out/install.log" 2>&1; }
t0=$SECONDS
check "the installer runs silently and succeeds" run_installer
echo "       (install: $((SECONDS - t0)) s)"
check "the installation folder is $install_dir_win" test -d "$install_dir"

installed_as_packed() {
  local file
  for file in "${package_files[@]}"; do
    cmp -s "$package/$file" "$install_dir/$file" || { echo "not installed as packed: $file" >&2; return 1; }
  done
}
check "the zip's ${#package_files[@]} files are installed as packed" installed_as_packed
check "the uninstaller is installed" test -f "$install_dir/uninstall.exe"
check "a first-start settings file selects RQ-M4T" \
  cmp -s <(printf '[Setting]\r\nMode=RQ-M4T\r\n') "$install_dir/Config/Config.ini"

# The uninstall entry, value by value ("name type data" lines).
wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r' >"$out/uninstall-entry.txt" || true
entry_is() {  # entry_is NAME TYPE DATA
  grep -qxF -- "    $1    $2    $3" "$out/uninstall-entry.txt"
}
check "the uninstall entry names the program" entry_is DisplayName REG_SZ "$title"
check "the uninstall entry gives the version" entry_is DisplayVersion REG_SZ "$version"
check "the uninstall entry gives the maker" entry_is Publisher REG_SZ "$maker"
check "the uninstall entry gives the installation folder" entry_is InstallLocation REG_SZ "$install_dir_win"
check "the uninstall entry runs the installed uninstaller" \
  entry_is UninstallString REG_SZ "\"$install_dir_win\\uninstall.exe\""
check "the uninstall entry offers no change or repair" \
  eval 'entry_is NoModify REG_DWORD 0x1 && entry_is NoRepair REG_DWORD 0x1'

# The Start-menu shortcut, read back from the file itself.
lnkinfo "$shortcut" 2>/dev/null | tr -d '\r' >"$out/shortcut.txt" || true
shortcut_field() { sed -n "s/^[[:space:]]*$1[[:space:]]*: //p" "$out/shortcut.txt" | head -n 1; }
check "the Start-menu shortcut exists ($shortcut_win)" test -f "$shortcut"
check "the shortcut starts the installed program" \
  test "$(shortcut_field 'Local path')" = "$install_dir_win\\rq-m4x-led-test.exe"
check "the shortcut's working directory is the installation folder" \
  test "$(shortcut_field 'Working directory')" = "$install_dir_win"
lnkinfo "$try_shortcut" 2>/dev/null | tr -d '\r' >"$out/shortcut.txt" || true
check "the Start-menu entry \"Try without hardware\" starts rq-m4x-try.exe in the installation folder" \
  eval 'test "$(shortcut_field "Local path")" = "$install_dir_win\\rq-m4x-try.exe" &&
    test "$(shortcut_field "Working directory")" = "$install_dir_win"'

# The version resources of the installed executables and of the installer,
# read with Debian's Python (python3-pefile), whatever python3 comes first.
version_resource_is() {  # FILE DESCRIPTION
  /usr/bin/python3 - "$1" "$2" "$title" "$version" "$maker" <<'EOF'
import sys
import pefile

path, description, product, version, maker = sys.argv[1:]
pe = pefile.PE(path, fast_load=True)
pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
strings = {}
for info in getattr(pe, "FileInfo", []) or []:
    for entry in info:
        if getattr(entry, "Key", b"") == b"StringFileInfo":
            for table in entry.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
numbers = None
if fixed:
    numbers = "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                               fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
wanted = {"ProductName": product, "ProductVersion": version, "FileVersion": version,
          "CompanyName": maker, "FileDescription": description}
wrong = {k: strings.get(k) for k, v in wanted.items() if strings.get(k) != v}
if numbers != version:
    wrong["fixed file version"] = numbers
if wrong:
    print("%s: %s" % (path, wrong), file=sys.stderr)
    sys.exit(1)
EOF
}
check "rq-m4x-led-test.exe carries the version resource" \
  version_resource_is "$install_dir/rq-m4x-led-test.exe" "$title"
check "rq-m4x-send.exe carries the version resource" \
  version_resource_is "$install_dir/rq-m4x-send.exe" "RQ-M4x - LED Test command-line sender"
check "rq-m4x-sim.exe carries the version resource" \
  version_resource_is "$install_dir/rq-m4x-sim.exe" "RQ-M4x - LED Test simulated controller"
check "the installer carries the version resource" version_resource_is "$installer" "$title setup"

# The program's own manifest, not the toolkit's default: one manifest, for
# amd64, with Common Controls 6 and per-monitor DPI awareness (Windows would
# otherwise stretch the window as a bitmap at 150 % and 200 %).
manifest_is_the_programs() {  # FILE
  /usr/bin/python3 - "$1" <<'EOF'
import sys
import xml.etree.ElementTree as ET
import pefile

pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
manifests = []
for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                manifests.append((name.id, pe.get_data(data.OffsetToData, data.Size)))
if [m[0] for m in manifests] != [1]:
    sys.exit("manifests: %s, not one with the number 1" % [m[0] for m in manifests])
root = ET.fromstring(manifests[0][1])
def local(tag): return tag.rsplit("}", 1)[-1]
wrong = []
identity = root.find("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity")
if identity is None or identity.get("processorArchitecture") != "amd64":
    wrong.append("identity not amd64")
if not [e for e in root.iter() if local(e.tag) == "assemblyIdentity"
        and e.get("name") == "Microsoft.Windows.Common-Controls" and e.get("version", "").startswith("6.")]:
    wrong.append("no Common Controls 6")
awareness = [e.text for e in root.iter() if local(e.tag) == "dpiAwareness"]
if not awareness or "PerMonitorV2" not in awareness[0]:
    wrong.append("dpiAwareness: %s" % awareness)
if wrong:
    sys.exit("%s: %s" % (sys.argv[1], ", ".join(wrong)))
EOF
}
for exe in rq-m4x-led-test.exe rq-m4x-sim.exe; do
  check "$exe has the program's manifest (amd64, Common Controls 6, PerMonitorV2)" \
    manifest_is_the_programs "$install_dir/$exe"
done

# ---- the shortcut starts the window ----
# The port the operator would have chosen in the serial settings dialog.
printf '[SerialPort]\r\nCOM=COM1\r\nBSP=9600\r\n' >>"$install_dir/Config/Config.ini"
# An upgrade whose pages are open while the program starts: the installer
# was started first, so its first check found nothing running.
wine "$installer" >"$out/install-mid.log" 2>&1 &
mid_installer=$!
check "an upgrade's pages are open before the program starts" wine "$driver" wait "$setup_title" 60
# Started as Explorer starts it: start.exe opens the shortcut and returns.
program_started=1
check "the shortcut is opened" eval 'wine start /unix "$shortcut" >"$out/program.log" 2>&1'
check "the shortcut opens the window \"$title\"" wine "$driver" wait "$title" 90
painted() {
  import -window root "$out/startup.png" 2>/dev/null &&
    [ "$(convert "$out/startup.png" -format %k info: 2>/dev/null || echo 0)" -gt 16 ]
}
check "screenshot of the started window (installer/startup.png)" wait_for 300 painted

# ---- the installer and the uninstaller leave a running program alone ----
# Every installed file with its checksum, and the uninstall entry.
installation_state() {
  (cd "$install_dir" && find . -type f -print0 | sort -z | xargs -0 md5sum)
  wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r'
}
installation_state >"$out/state-before.txt"
# "Install" checks again before removing anything: the box that says the
# program runs (the only window of that title with a Retry button, and above
# the pages it belongs to) comes up, and Cancel leaves all as it was.
check "\"Install\" is pressed on the open upgrade's pages" wine "$driver" click "$setup_title" "Install"
running_box_shown() { wine "$driver" click "$setup_title" "Retry" >/dev/null 2>&1; }
check "the upgrade says the program runs before it removes anything" wait_for 300 running_box_shown
check "the upgrade removed nothing meanwhile" cmp -s "$out/state-before.txt" <(installation_state)
cancel_box() { wine "$driver" click "$setup_title" "Cancel" >/dev/null 2>&1; }
mid_installer_ended() { ! kill -0 "$mid_installer" 2>/dev/null; }
check "Cancel ends the upgrade" eval 'wait_for 300 cancel_box && wait_for 300 mid_installer_ended'
check "the cancelled upgrade changed nothing" cmp -s "$out/state-before.txt" <(installation_state)
status=0
wine "$installer" /S >"$out/install-running.log" 2>&1 || status=$?
check "an upgrade while the program runs ends with a non-zero status ($status)" test "$status" -ne 0
check "the refused upgrade changed nothing" cmp -s "$out/state-before.txt" <(installation_state)
# The documented command, without _?=: it waits for the uninstaller proper
# and ends with its status, 2 for "program running".
status=0
wine "$install_dir_win\\uninstall.exe" /S >"$out/uninstall-running.log" 2>&1 || status=$?
check "an uninstall while the program runs ends with status 2 ($status)" test "$status" -eq 2
check "the refused uninstall changed nothing" cmp -s "$out/state-before.txt" <(installation_state)

# "Bright Set" sends only for the model RQ-M4T: a frame at the controller
# shows that the bundled profile was read from the installation folder.
check "\"Bright Set\" is pressed" wine "$driver" click "$title" "Bright Set"
wine "$driver" log "$title" "Close: COM1" 60 >"$out/log.txt" 2>>"$out/driver.log" || true
log=$(tr -d '\r' <"$out/log.txt")
check "the log ends the transaction in \"Success\"" grep -qxF "                 Success" <<<"$log"
sent=$(sed -n 's/^                 DATA : *\(.*\)$/\1/p' <<<"$log" | head -n 1)
received=$(tail -n 1 "$out/record.txt" 2>/dev/null || true)
check "the controller received the frame the log shows ($received)" \
  eval '[ -n "$received" ] && [ "$sent" = "$received" ]'

check "the window closes" wine "$driver" close "$title" 60
# No process of the prefix is left (the prefix's own services end with the
# last program).
check "the program ends" timeout 60 wineserver -w
program_started=0
# The simulator holds the running mark too: an uninstall leaves it alone.
wine "$install_dir_win\\rq-m4x-sim.exe" --listen tcp://127.0.0.1:0 >"$out/sim.txt" 2>&1 &
sim_exe=$!
installation_state >"$out/state-before.txt"
status=0
wait_for 300 test -s "$out/sim.txt" && { wine "$install_dir_win\\uninstall.exe" /S >/dev/null 2>&1 || status=$?; }
kill -INT "$sim_exe" 2>/dev/null; wait "$sim_exe" 2>/dev/null || true
check "an uninstall while rq-m4x-sim.exe runs ends with status 2 ($status), changing nothing" \
  eval '[ "$status" = 2 ] && cmp -s "$out/state-before.txt" <(installation_state)'
settings=$(tr -d '\r' <"$install_dir/Config/Config.ini")
check "the settings file beside the program was written (Bright=)" grep -q '^Bright=' <<<"$settings"
check "the settings file keeps the model RQ-M4T" grep -qx 'Mode=RQ-M4T' <<<"$settings"

# ---- an upgrade over an older installation ----
# A file an older version installed and listed, which this one no longer has;
# a file of the user's own beside it; a bundled profile the user edited.
as_after_an_older_version() {
  printf 'img\\old-logo.png\r\n' >>"$install_dir/Setup/installed-files.txt" &&
    printf 'old' >"$install_dir/img/old-logo.png" &&
    printf 'mine' >"$install_dir/img/mine.png" &&
    printf 'Edited=1\r\n' >>"$install_dir/Modes/RQ-M4T.ini" &&
    cp "$install_dir/Modes/RQ-M4T.ini" "$out/RQ-M4T.ini.edited"
}
check "the installed-file list is kept in the installation folder" test -s "$install_dir/Setup/installed-files.txt"
check "an older version's leftover and an edited profile are set up" as_after_an_older_version
check "the upgrade runs silently and succeeds" run_installer
check "a file only the older version had is removed" test ! -e "$install_dir/img/old-logo.png"
check "a file of the user's own stays" test -f "$install_dir/img/mine.png"
check "the edited profile is kept" cmp -s "$out/RQ-M4T.ini.edited" "$install_dir/Modes/RQ-M4T.ini"
check "the new profile goes beside it as RQ-M4T.ini.new" \
  cmp -s "$package/Modes/RQ-M4T.ini" "$install_dir/Modes/RQ-M4T.ini.new"
check "a profile left as installed is replaced, with nothing beside it" \
  eval 'cmp -s "$package/Modes/RQ-M4S.ini" "$install_dir/Modes/RQ-M4S.ini" && [ ! -e "$install_dir/Modes/RQ-M4S.ini.new" ]'
rm -f "$install_dir/img/mine.png"

# ---- uninstall ----
cp "$install_dir/Config/Config.ini" "$out/Config.ini.before-uninstall"
printf '[Model]\r\nModel=Own\r\n' >"$install_dir/Modes/Own.ini"
# uninstall.exe returns once the uninstaller proper has done its work.
program_files_gone() {
  local file
  # uninstall.exe goes once it has ended (a copy in the temporary folder
  # deletes it): no running program's file can be deleted, on Windows as
  # under Wine.
  [ ! -e "$install_dir/uninstall.exe" ] || return 1
  for file in "${package_files[@]}"; do
    # An edited bundled profile is the user's now.
    [ ! -e "$install_dir/$file" ] || ! cmp -s "$install_dir/$file" "$package/$file" || return 1
  done
}
run_uninstaller() { wine "$install_dir_win\\uninstall.exe" /S >"$out/uninstall.log" 2>&1; }
t0=$SECONDS
check "the uninstaller runs silently" run_uninstaller
# The program files are gone when it returns; the uninstaller proper may
# still be ending, so its own file may take a moment longer under Wine.
check "the uninstall removes the program files" wait_for 600 program_files_gone
echo "       (uninstall: $((SECONDS - t0)) s)"
# The last steps after the files: the entry goes last.
entry_gone() { ! wine reg query "$uninstall_key" >/dev/null 2>&1; }
check "the uninstall entry is gone" entry_gone
check "the Start-menu shortcut is gone" test ! -e "$shortcut"
check "the Start-menu entry \"Try without hardware\" is gone" test ! -e "$try_shortcut"
check "only the user's files are left" test "$(cd "$install_dir" && find . | sort | tr '\n' ' ')" = \
  ". ./Config ./Config/Config.ini ./Modes ./Modes/Own.ini ./Modes/RQ-M4T.ini "
check "the settings file is kept as it was" cmp -s "$out/Config.ini.before-uninstall" "$install_dir/Config/Config.ini"
check "a profile of the user's own is kept" test -f "$install_dir/Modes/Own.ini"
check "the edited profile is kept by the uninstall" cmp -s "$out/RQ-M4T.ini.edited" "$install_dir/Modes/RQ-M4T.ini"
check "the new profile beside it goes" test ! -e "$install_dir/Modes/RQ-M4T.ini.new"
# The user drops the edit, so that the next install is a plain first one.
rm -f "$install_dir/Modes/RQ-M4T.ini"

# ---- a new install over the kept settings ----
check "the installer runs again" run_installer
check "the program files are back" installed_as_packed
check "the kept settings file is not replaced" cmp -s "$out/Config.ini.before-uninstall" "$install_dir/Config/Config.ini"
# Without the user's files nothing is left, not even the folder; the status
# still reaches the caller.
rm -rf "$install_dir/Config" "$install_dir/Modes/Own.ini"
check "the second uninstall ends with status 0 and leaves no folder" \
  eval 'run_uninstaller && wait_for 600 test ! -e "$install_dir"'

# ---- a first installation on a Chinese Windows starts in Chinese ----
remove_installation
chinese_locale=$wine_build/locale
require make_chinese_locale
wineserver -k 2>/dev/null || true
check "the installer runs on a Chinese Windows" \
  eval 'LOCPATH=$chinese_locale LC_ALL=zh_CN.UTF-8 wine "$installer" /S >"$out/install-chinese.log" 2>&1'
check "its first-start settings file selects Chinese (lang=46)" \
  cmp -s <(printf '[Setting]\r\nMode=RQ-M4T\r\nlang=46\r\n') "$install_dir/Config/Config.ini"
wineserver -k 2>/dev/null || true

if [ "$failed" -ne 0 ]; then
  for f in uninstall-entry.txt shortcut.txt log.txt driver.log install.log uninstall.log; do
    [ -s "$out/$f" ] && { echo "--- $f ---"; head -n 40 "$out/$f"; }
  done
fi
echo "screenshot: $out/startup.png"
summary
