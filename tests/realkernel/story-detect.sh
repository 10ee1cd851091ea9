#!/bin/bash
# Runs inside the user-mode-linux guest: serves SCENARIO's disks as SCSI
# disks with raid-tcmu-responder, waits until they are there, runs raidmon on
# the real disks for SECONDS and leaves the day log, raidmon's output and the
# responder's command log and the simulator's request trace in OUT.
#
#   story-detect.sh RESPONDER RAIDMON SCENARIO SECONDS OUT
set -u
responder="$1" raidmon="$2" scenario="$3" seconds="$4" out="$5"
mkdir -p "$out/log"
start=$(date +%s.%N)
"$responder" --scenario "$scenario" --log "$out/responder.log" --trace "$out/trace.txt" --ready "$out/.ready" \
  --start-on-signal &
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
ls /sys/block >"$out/disks.txt"
ready=$(date +%s.%N)
# The scenario's seconds count from raidmon's start, as in-process: its
# files are read once first, so that the start after the signal is quick.
"$raidmon" --help >/dev/null 2>&1
kill -USR1 "$pid"
"$raidmon" --log-dir "$out/log" --config-dir "$out" --duration "$seconds" >"$out/stdout.txt" 2>"$out/stderr.txt"
rc=$?
done_at=$(date +%s.%N)
kill "$pid"
wait "$pid"
echo "responder ready after $(echo "$ready - $start" | bc) s, raidmon ran $(echo "$done_at - $ready" | bc) s" >"$out/timing.txt"
exit "$rc"
