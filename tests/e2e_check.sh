#!/usr/bin/env bash
# raidctl check end to end: the monitoring plugin's exit code and line for
# each state of a simulated enclosure, UNKNOWN while raidmon holds the
# enclosures and on wrong use; status --json carries its version.
set -euo pipefail
ctl="$1"; mon="$2"; src="$3"
work=$(mktemp -d)
mon_pid=""
trap '[ -n "$mon_pid" ] && kill -TERM "$mon_pid" 2>/dev/null; rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "$*"; exit 1; }

one() {  # one(name, status-object): a one-enclosure scenario
  printf '{"enclosures":[{"name":"E1","status":%s}],"disks":[{"drive":0,"enclosure":"E1"}]}\n' "$2" >"$work/$1.json"
}
one healthy '{"hdd1":"present","hdd2":"present"}'
one scanning '{"hdd1":"present","hdd2":"present","activity":130,"progress":5}'
one overshoot '{"hdd1":"present","hdd2":"present","activity":130,"progress":150}'
one absent '{"hdd2":"absent"}'
one failed '{"hdd1":"failed"}'
echo '{"enclosures":[]}' >"$work/none.json"

expect() {  # expect(code, pattern, args...)
  local want="$1" pattern="$2"; shift 2
  set +e; "$ctl" check "$@" >"$work/out.txt" 2>"$work/err.txt"; local rc=$?; set -e
  [ "$rc" -eq "$want" ] || fail "check $*: code $rc, not $want: $(cat "$work/out.txt" "$work/err.txt")"
  [ "$(wc -l <"$work/out.txt")" -eq 1 ] || fail "check $*: not one line: $(cat "$work/out.txt")"
  grep -qE "$pattern" "$work/out.txt" || fail "check $*: $(cat "$work/out.txt")"
}

expect 0 "^RAID OK - Device1: Normal \| 'enclosures'=1;;1:;0 'Device1_temperature'=[0-9]+ 'Device1_fan'=[0-9]+$" \
  --simulate "$work/healthy.json"
expect 1 "^RAID WARNING - Device1: rebuilding towards HDD2 40% \|.* 'Device1_progress'=40%;;;0;100" \
  --simulate "$src/scenarios/rebuilding.json"
expect 1 "^RAID WARNING - Device1: scanning HDD2 5% \|" --simulate "$work/scanning.json"
# A record's progress over 100 % is published as unknown, never as 150 %.
expect 1 "^RAID WARNING - Device1: scanning HDD2, progress unknown \|" --simulate "$work/overshoot.json"
grep -q "_progress" "$work/out.txt" && fail "progress over 100 % in the performance data: $(cat "$work/out.txt")"
"$ctl" status --json --simulate "$work/overshoot.json" | grep -q '"progress": null' || fail "status --json: progress over 100 %"
expect 2 "^RAID CRITICAL - Device1: HDD2 absent" --simulate "$work/absent.json"
expect 2 "^RAID CRITICAL - Device1: HDD1 failed" --simulate "$work/failed.json"
expect 2 "^RAID CRITICAL - no enclosure found" --simulate "$work/none.json"
expect 2 "^RAID CRITICAL - 1 of 2 enclosures found" --simulate "$work/healthy.json" --expect 2
expect 0 "^RAID OK - Device1: Normal; Device2: Normal; Device3: Normal; Device4: Normal \|" \
  --simulate "$src/scenarios/four-transports.json"
expect 3 "^RAID UNKNOWN - unknown option \"--bogus\"" --bogus
expect 3 "^RAID UNKNOWN - .*no-such-file" --simulate "$work/no-such-file.json"

# status --json is the versioned document the check judges.
"$ctl" status --json --simulate "$work/healthy.json" >"$work/status.json"
grep -q '^  "version": 1,\?$' "$work/status.json" || fail "no version: $(cat "$work/status.json")"

# While raidmon holds the enclosures the check cannot look at them itself
# (UNKNOWN), but it judges the status file the monitor writes.
mkdir -p "$work/run"
# Under the service's strict file mode mask the status file is still one
# every user may read.
(umask 027 && exec "$mon" --simulate "$work/absent.json" --log-dir "$work/logs" --status-file "$work/run/status.json" \
  >"$work/mon.out" 2>&1) &
mon_pid=$!
# Judged once the first poll has read the record (before that the file
# says the record is still to come).
for _ in $(seq 100); do grep -q '"state"' "$work/run/status.json" 2>/dev/null && break; sleep 0.1; done
expect 3 "^RAID UNKNOWN - raidgui or raidmon is running" --simulate
expect 2 "^RAID CRITICAL - Device1: HDD2 absent" --status-file "$work/run/status.json"
grep -q '^  "version": 1,\?$' "$work/run/status.json" || fail "status file: $(cat "$work/run/status.json")"
[ "$(stat -c %a "$work/run/status.json")" = 644 ] || fail "status file mode $(stat -c %a "$work/run/status.json"), not 644"
kill -TERM "$mon_pid"; wait "$mon_pid" || true; mon_pid=""
# A status file that stopped being written, or none at all: UNKNOWN.
touch -d '10 minutes ago' "$work/run/status.json"
expect 3 "^RAID UNKNOWN - the status file .* s old" --status-file "$work/run/status.json"
touch -d '1 hour' "$work/run/status.json"
expect 3 "^RAID UNKNOWN - the status file .* s in the future" --status-file "$work/run/status.json"
expect 3 "^RAID UNKNOWN - the status file .* cannot be read" --status-file "$work/run/missing.json"
echo "check: all states as expected"
