#!/bin/bash
# Runs inside the user-mode-linux guest: serves SCENARIO's disks with
# raid-tcmu-responder and writes IMAGE to the enclosure in slot 0 with
# raidctl on the real disks; leaves raidctl's output, the responder's log
# and the upgrade's wall time in OUT.
#
#   story-upgrade.sh RESPONDER RAIDCTL SCENARIO IMAGE OUT
set -u
responder="$1" raidctl="$2" scenario="$3" image="$4" out="$5"
mkdir -p "$out"
. "$(dirname "$0")/responder-start.sh"
start_responder "$out" "$responder" --scenario "$scenario" --log "$out/responder.log"
pid=$responder_pid
t0=$(date +%s.%N)
"$raidctl" upgrade "$image" --yes >"$out/stdout.txt" 2>"$out/stderr.txt"
rc=$?
t1=$(date +%s.%N)
echo "the upgrade took $(echo "$t1 - $t0" | bc) s" >"$out/timing.txt"
kill "$pid"
wait "$pid"
exit "$rc"
