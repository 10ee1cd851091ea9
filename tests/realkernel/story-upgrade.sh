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
"$responder" --scenario "$scenario" --log "$out/responder.log" --ready "$out/.ready" &
pid=$!
for _ in $(seq 100); do
  [ -f "$out/.ready" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -f "$out/.ready" ]; then
  echo "story: the responder did not get ready" >&2
  kill "$pid" 2>/dev/null
  exit 1
fi
udevadm settle -t 10
t0=$(date +%s.%N)
"$raidctl" upgrade "$image" --yes >"$out/stdout.txt" 2>"$out/stderr.txt"
rc=$?
t1=$(date +%s.%N)
echo "the upgrade took $(echo "$t1 - $t0" | bc) s" >"$out/timing.txt"
kill "$pid"
wait "$pid"
exit "$rc"
