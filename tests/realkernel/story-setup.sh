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
"$responder" --scenario "$scenario" --log "$out/responder.log" --trace "$out/trace.txt" --ready "$out/.ready" &
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
