#!/bin/bash
# Runs inside the user-mode-linux guest: serves SCENARIO's disks with
# raid-tcmu-responder and runs each line of COMMANDS as raidctl's arguments
# on the real disks, one after another on the same enclosure; leaves each
# command's output and exit code, the simulator's request trace and the
# responder's log in OUT.
#
#   story-setup.sh RESPONDER RAIDCTL SCENARIO COMMANDS OUT
set -u
responder="$1" raidctl="$2" scenario="$3" commands="$4" out="$5"
mkdir -p "$out"
. "$(dirname "$0")/responder-start.sh"
start_responder "$out" "$responder" --scenario "$scenario" --log "$out/responder.log" --trace "$out/trace.txt"
pid=$responder_pid
n=0
while IFS= read -r line; do
  [ -n "$line" ] || continue
  n=$((n + 1))
  # shellcheck disable=SC2086  # the line is the argument list
  "$raidctl" $line >"$out/$n.out" 2>"$out/$n.err"
  echo $? >"$out/$n.rc"
done <"$commands"
kill "$pid"
wait "$pid"
exit 0
