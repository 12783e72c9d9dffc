#!/usr/bin/env bash
# The Linux half of the simulated controllers that the Windows test programs
# use under Wine (tests/support/sim_controller_win32.cpp). Started by run.sh:
#
#   sim-broker.sh DIR SIMULATOR SLOTS
#
# Each slot k (1..SLOTS) is the link DIR/port-k, which run.sh maps to one COM
# name. A test program asks for a controller by writing DIR/ID.args (the
# simulator's options, one a line); the broker starts rq-m4x-sim on a free
# slot with those options and its frames recorded in DIR/ID.frames, and
# answers with the slot's number in DIR/ID.port (or DIR/ID.failed). DIR/ID.stop
# ends that simulator; DIR/ID.ended appears whenever it has ended, by itself
# (a hang-up, --count) or when asked. DIR/quit ends the broker and its
# simulators.
set -uo pipefail
dir=$1
simulator=$2
slots=$3

declare -A slot_pid=() slot_id=()

ended() {  # ended SLOT: the simulator has gone; frees the slot
  local k=$1
  wait "${slot_pid[$k]}" 2>/dev/null
  : >"$dir/${slot_id[$k]}.ended.tmp" && mv -f "$dir/${slot_id[$k]}.ended.tmp" "$dir/${slot_id[$k]}.ended"
  unset "slot_pid[$k]" "slot_id[$k]"
}

start() {  # start ID: a simulator with the options in DIR/ID.args
  local id=$1 k free="" args=() line waited=0
  for ((k = 1; k <= slots; k++)); do
    [ -z "${slot_pid[$k]:-}" ] && free=$k && break
  done
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    [ -n "$line" ] && args+=("$line")
  done <"$dir/$id.args"
  rm -f "$dir/$id.args"
  if [ -z "$free" ]; then
    echo "no free slot" >"$dir/$id.failed"
    return
  fi
  "$simulator" --link "$dir/port-$free" --record "$dir/$id.frames" "${args[@]}" >"$dir/$id.out" 2>"$dir/$id.err" &
  slot_pid[$free]=$!
  slot_id[$free]=$id
  # The simulator prints its terminal once the link is in place.
  until [ -s "$dir/$id.out" ]; do
    if ! kill -0 "${slot_pid[$free]}" 2>/dev/null || [ $waited -ge 500 ]; then
      cp "$dir/$id.err" "$dir/$id.failed"
      kill "${slot_pid[$free]}" 2>/dev/null
      ended "$free"
      return
    fi
    sleep 0.01
    waited=$((waited + 1))
  done
  echo "$free" >"$dir/$id.port.tmp" && mv -f "$dir/$id.port.tmp" "$dir/$id.port"
}

stop() {  # stop ID
  local id=$1 k
  rm -f "$dir/$id.stop"
  for k in "${!slot_id[@]}"; do
    if [ "${slot_id[$k]}" = "$id" ]; then
      kill "${slot_pid[$k]}" 2>/dev/null
      ended "$k"
      return
    fi
  done
  # Already ended (or never started): say so all the same.
  [ -e "$dir/$id.ended" ] || : >"$dir/$id.ended"
}

shopt -s nullglob
while [ ! -e "$dir/quit" ]; do
  busy=0
  for request in "$dir"/*.args; do
    id=$(basename "$request" .args)
    start "$id"
    busy=1
  done
  for request in "$dir"/*.stop; do
    stop "$(basename "$request" .stop)"
    busy=1
  done
  for k in "${!slot_pid[@]}"; do
    kill -0 "${slot_pid[$k]}" 2>/dev/null || ended "$k"
  done
  [ $busy -eq 1 ] || sleep 0.01
done
for k in "${!slot_pid[@]}"; do
  kill "${slot_pid[$k]}" 2>/dev/null
  wait "${slot_pid[$k]}" 2>/dev/null
done
