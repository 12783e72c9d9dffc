# Shared by the Wine tests (sourced): a private Wine prefix, simulated
# controllers on pseudo-terminals mapped to COM ports through Wine's
# registry, check counting and clean-up.
#
# Only the COM names mapped here are ever opened: Wine maps the other COM
# names to the machine's real serial devices, and /dev/ttyS0 is the system
# console on these machines.

wine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_build=${RQ_WIN_BUILD_DIR:-$wine_root/build-windows}

passed=0
failed=0
check() {  # check NAME COMMAND...: counts and reports one check
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok     $name"
  else
    failed=$((failed + 1))
    echo "FAILED $name"
  fi
}
# require COMMAND...: a set-up step; when it fails the run ends as failed.
require() {
  if ! "$@"; then
    echo "set-up failed: $*" >&2
    echo "$passed passed, $((failed + 1)) failed"
    exit 1
  fi
}
summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

install_wine_packages() {
  install_missing_packages wine wine64 xvfb xauth imagemagick xdotool x11-utils
}

# Installs those of the given Debian packages that are missing.
install_missing_packages() {
  local packages=("$@")
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The Linux simulated controller: given, built already, or built now.
find_simulator() {
  local candidate
  local linux_build=${RQ_BUILD_DIR:-$wine_root/build}
  for candidate in "${RQ_SIM:-}" "$linux_build/tools/rq-m4x-sim" "$linux_build/rq-m4x-sim"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  local host=$wine_build/host
  cmake -S "$wine_root" -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRQ_BUILD_BENCH=OFF >"$host.log" 2>&1 &&
    cmake --build "$host" --target rq-m4x-sim >>"$host.log" 2>&1 || {
    echo "could not build rq-m4x-sim; see $host.log" >&2
    return 1
  }
  for candidate in "$host/tools/rq-m4x-sim" "$host/rq-m4x-sim"; do
    [ -x "$candidate" ] && echo "$candidate" && return 0
  done
  return 1
}

# A private prefix under the build directory; made once.
wine_prefix() {
  export WINEPREFIX=$1
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installer dialogs.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    DISPLAY="" wineboot --init >"$WINEPREFIX.init.log" 2>&1 || {
      echo "wineboot failed; see $WINEPREFIX.init.log" >&2
      return 1
    }
    wineserver -w
  fi
}

sim_pids=()
# start_simulator FILE ARGS...: starts rq-m4x-sim with ARGS, waits for the
# pseudo-terminal's path and writes it to FILE.
start_simulator() {
  local file=$1
  shift
  : >"$file"
  "$simulator" "$@" >"$file" 2>"$file.err" &
  sim_pids+=($!)
  local waited=0
  until [ -s "$file" ]; do
    if ! kill -0 "${sim_pids[-1]}" 2>/dev/null || [ $waited -ge 100 ]; then
      echo "rq-m4x-sim did not start: $(cat "$file.err")" >&2
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}

# map_ports COMn PATH ...: points the COM names at the paths and restarts the
# Wine server so that the mapping is in force.
map_ports() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wine reg delete 'HKLM\Software\Wine\Ports' /f >/dev/null 2>&1 || true
  while [ $# -ge 2 ]; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /d "$2" /f >/dev/null 2>&1 || return 1
    shift 2
  done
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

stop_simulators() {
  local pid
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  sim_pids=()
}

# waits up to $1 tenths of a second for "$2..." to succeed
wait_for() {
  local tenths=$1
  shift
  local waited=0
  until "$@"; do
    [ $waited -ge "$tenths" ] && return 1
    sleep 0.1
    waited=$((waited + 1))
  done
}

# Reads a GoogleTest run's summary from its output FILE into passed, failed
# and skipped. STATUS is the program's exit status: a crash leaves no summary
# or exits non-zero, and counts as a failure.
gtest_counts() {
  local file=$1 status=$2
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$file" | tail -n 1)
  failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$file" | tail -n 1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$file" | tail -n 1)
  passed=${passed:-0}
  failed=${failed:-0}
  skipped=${skipped:-0}
  if [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  return 0
}

# A Chinese locale for Wine (LOCPATH=$chinese_locale), made from Debian's locale
# sources: Wine takes the code page and the interface language from it.
make_chinese_locale() {
  [ -d "$chinese_locale/zh_CN.UTF-8" ] && return 0
  if [ ! -f /usr/share/i18n/locales/zh_CN ]; then
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends locales >/dev/null || return 1
  fi
  mkdir -p "$chinese_locale"
  localedef -i zh_CN -f UTF-8 "$chinese_locale/zh_CN.UTF-8" || [ -d "$chinese_locale/zh_CN.UTF-8" ]
}
