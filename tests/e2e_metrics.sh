#!/usr/bin/env bash
# raidmon --metrics-file read by the real node exporter (Debian's
# prometheus-node-exporter, textfile collector only, on 127.0.0.1): a healthy
# enclosure (its model with a quote and a backslash), a missing
# drive and a rebuild at 40 % scrape as they are, without a textfile error;
# a drive that leaves shows at the first poll after it left, and the mail
# about it, sent to a port nobody listens at, counts as failed. A few seconds:
# the fixed scenarios run at 100 times real time with --duration.
set -euo pipefail
mon="$1"; ctl="$2"
command -v prometheus-node-exporter >/dev/null ||
  { echo "no prometheus-node-exporter (scripts/install-deps.sh installs it): skipped"; exit 77; }
work=$(mktemp -d)
exporter=""; mon_pid=""
trap '[ -n "$mon_pid" ] && kill -TERM "$mon_pid" 2>/dev/null; [ -n "$exporter" ] && kill -TERM "$exporter" 2>/dev/null;
  wait 2>/dev/null; rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "$*"; [ -f "$work/m.txt" ] && grep -E '^(raidgui|node_textfile)' "$work/m.txt"; exit 1; }
mkdir "$work/textfile"

one() {  # one(name, speed, model, status-object[, timeline])
  printf '{"clock":{"speed":%s},"enclosures":[{"name":"E1","model":"%s","status":%s}],
    "disks":[{"drive":0,"enclosure":"E1"}],"timeline":[%s]}\n' "$2" "$3" "$4" "${5:-}" >"$work/$1.json"
}
one healthy 100 'Two-bay \"RAID\" \\ box' '{"hdd1":"present","hdd2":"present"}'
one missing 100 'Two-bay RAID' '{"hdd1":"present","hdd2":"absent"}'
one rebuild 100 'Two-bay RAID' '{"hdd1":"present","hdd2":"present","activity":2,"progress":40}'
# Polls every 2 s of real time; HDD2 leaves 5 s of program time in.
one leaves 2 'Two-bay RAID' '{"hdd1":"present","hdd2":"present"}' '{"at":5,"enclosure":"E1","set":{"hdd2":"absent"}}'

# A free port, then the exporter with nothing but the textfile collector.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
url="http://127.0.0.1:$port/metrics"
prometheus-node-exporter --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory "$work/textfile" --web.listen-address "127.0.0.1:$port" >"$work/exporter.log" 2>&1 &
exporter=$!
for _ in $(seq 100); do curl -sf "$url" >/dev/null 2>&1 && break; sleep 0.1; done
curl -sf "$url" >/dev/null || fail "the exporter does not answer: $(cat "$work/exporter.log")"

scrape() {
  curl -sf "$url" >"$work/m.txt" || fail "scrape failed"
  grep -qx 'node_textfile_scrape_error 0' "$work/m.txt" || fail "the exporter did not read the file"
}
# value(metric-with-labels): its value in the last scrape (the exporter
# prints the labels in alphabetical order), "none" when absent.
value() { K="$1" awk 'index($0, ENVIRON["K"] " ") == 1 { print $NF; found = 1 } END { if (!found) print "none" }' "$work/m.txt"; }
expect() {  # expect(metric-with-labels, value)
  [ "$(value "$1")" = "$2" ] || fail "$1 is $(value "$1"), not $2"
}

run() {  # run(scenario): ten seconds of program time, then the file as it was left
  rm -f "$work/textfile/raidgui.prom"
  (umask 077 && exec "$mon" --simulate "$work/$1.json" --duration 10 --log-dir "$work/logs" \
    --metrics-file "$work/textfile/raidgui.prom" >"$work/mon.out" 2>&1) || fail "raidmon: $(cat "$work/mon.out")"
  [ "$(stat -c %a "$work/textfile/raidgui.prom")" = 644 ] || fail "mode $(stat -c %a "$work/textfile/raidgui.prom")"
  # Nothing but the file itself is left in the folder (no temporary file).
  [ "$(ls -A "$work/textfile")" = raidgui.prom ] || fail "in the folder: $(ls -A "$work/textfile")"
  scrape
}

d='enclosure="Device1"'
run healthy
expect raidgui_enclosures 1
expect "raidgui_enclosure_info{$d,firmware=\"100607.1.A12\",mode=\"Mirroring(RAID1)\",model=\"Two-bay \\\"RAID\\\" \\\\ box\"}" 1
for drive in HDD1 HDD2; do
  expect "raidgui_drive_up{drive=\"$drive\",$d}" 1
  expect "raidgui_drive_state{drive=\"$drive\",$d,state=\"present\"}" 1
  expect "raidgui_drive_state{drive=\"$drive\",$d,state=\"absent\"}" 0
done
expect "raidgui_array_degraded{$d}" 0
expect "raidgui_activity_progress_ratio{$d,kind=\"rebuild\"}" none
expect "raidgui_temperature_celsius{$d}" 38
expect "raidgui_fan_rpm{$d}" 2400
expect "raidgui_alarm{$d,kind=\"temperature\"}" 0
expect raidgui_mail_failures_total 0
poll=$(value "raidgui_last_poll_timestamp_seconds{$d}")
python3 -c "import sys, time; sys.exit(abs(float('$poll') - time.time()) > 60)" || fail "last poll at $poll"

run missing
expect "raidgui_drive_up{drive=\"HDD1\",$d}" 1
expect "raidgui_drive_up{drive=\"HDD2\",$d}" 0
expect "raidgui_drive_state{drive=\"HDD2\",$d,state=\"absent\"}" 1
expect "raidgui_drive_state{drive=\"HDD2\",$d,state=\"present\"}" 0
expect "raidgui_array_degraded{$d}" 1

run rebuild
expect "raidgui_activity_progress_ratio{$d,kind=\"rebuild\"}" 0.4
expect "raidgui_activity_progress_ratio{$d,kind=\"scan\"}" none
expect "raidgui_array_degraded{$d}" 0

# The change: scraped every 0.1 s while raidmon runs (a poll every 2 s of
# real time). The poll that first shows HDD2 missing must be the one right
# after the last poll that showed it present: less than 1.5 polls apart.
# Its notification goes to a port where nothing listens.
"$ctl" mail set --server 127.0.0.1 --port "$(free_port)" --name RAID --address alerts@example.com --auth off \
  --retry off --config-dir "$work/config" >/dev/null
"$ctl" mail recipients add ops@example.com --config-dir "$work/config" >/dev/null
rm -f "$work/textfile/raidgui.prom"
"$mon" --simulate "$work/leaves.json" --log-dir "$work/logs" --metrics-file "$work/textfile/raidgui.prom" \
  --config-dir "$work/config" >"$work/mon.out" 2>&1 &
mon_pid=$!
before=""; after=""
for _ in $(seq 150); do
  sleep 0.1
  [ -f "$work/textfile/raidgui.prom" ] || continue
  scrape
  up=$(value "raidgui_drive_up{drive=\"HDD2\",$d}")
  at=$(value "raidgui_last_poll_timestamp_seconds{$d}")
  if [ "$up" = 1 ]; then before="$at"; elif [ "$up" = 0 ]; then after="$at"; break; fi
done
# The failed mail shows at a later poll.
for _ in $(seq 50); do
  [ "$(value raidgui_mail_failures_total)" = 1 ] && break
  sleep 0.1; scrape
done
kill -TERM "$mon_pid"; wait "$mon_pid" || true; mon_pid=""
expect raidgui_mail_failures_total 1
grep -q "Send mail failed" "$work/mon.out" || fail "raidmon: $(cat "$work/mon.out")"
[ -n "$before" ] || fail "HDD2 never showed present"
[ -n "$after" ] || fail "HDD2 never showed missing"
python3 -c "import sys; sys.exit(not 0 < float('$after') - float('$before') < 3.0)" ||
  fail "last poll with HDD2 present at $before, first without it at $after: not the next poll"
expect "raidgui_array_degraded{$d}" 1
echo "metrics: node exporter reads every state, and the change within one poll"
