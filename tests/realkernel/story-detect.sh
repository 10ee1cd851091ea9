#!/bin/bash
# Runs inside the user-mode-linux guest: serves SCENARIO's disks as SCSI
# disks with raid-tcmu-responder, waits until they are there, runs raidmon on
# the real disks for SECONDS and leaves the day log, raidmon's output and the
# responder's command log and the simulator's request trace in OUT, with
# udev's block events during the run (udev.txt) and the kernel's messages
# (dmesg.txt).
#
#   story-detect.sh RESPONDER RAIDMON SCENARIO SECONDS OUT [OPTION...]
#
#   --disturb        while raidmon runs, the kernel revalidates every disk
#                    (TEST UNIT READY, READ CAPACITY, MODE SENSE) and reads
#                    its first blocks past the page cache, every 1.5 s
#   --no-rawio       afterwards raidmon runs once more for 2 s as root
#                    without CAP_SYS_RAWIO (norawio/)
#   --mail RAIDCTL SERVER   a test SMTP server (tests/mail/smtp_server.py)
#                    on the guest's 127.0.0.1 takes raidmon's mails
#                    (mails.jsonl); raidctl writes the mail settings
set -u
responder="$1" raidmon="$2" scenario="$3" seconds="$4" out="$5"
shift 5
disturb=0 norawio=0 raidctl= smtp=
while [ $# -gt 0 ]; do
  case "$1" in
    --disturb) disturb=1 ;;
    --no-rawio) norawio=1 ;;
    --mail)
      raidctl="$2" smtp="$3"
      shift 2
      ;;
  esac
  shift
done
mkdir -p "$out/log"
start=$(date +%s.%N)
. "$(dirname "$0")/responder-start.sh"
start_responder "$out" "$responder" --scenario "$scenario" --log "$out/responder.log" --trace "$out/trace.txt" \
  --start-on-signal
pid=$responder_pid
ls /sys/block >"$out/disks.txt"

server=
if [ -n "$smtp" ]; then
  ip link set lo up
  mkfifo "$out/smtp.in"
  /usr/bin/python3 "$smtp" relay "$out/mails.jsonl" <"$out/smtp.in" >"$out/smtp.port" 2>"$out/smtp.err" &
  server=$!
  exec 9>"$out/smtp.in"
  for _ in $(seq 100); do
    grep -q PORT "$out/smtp.port" 2>/dev/null && break
    sleep 0.1
  done
  "$raidctl" mail set --server 127.0.0.1 --port "$(cut -d' ' -f2 "$out/smtp.port")" --name "RAID Box" \
    --address alerts@example.com --auth off --retry off --config-dir "$out" >/dev/null &&
    "$raidctl" mail recipients add ops@example.com --config-dir "$out" >/dev/null ||
    echo "story: the mail settings were not written" >&2
fi

# Every block event udev handles while raidmon runs (line-buffered: the
# monitor is ended with a signal).
stdbuf -oL udevadm monitor --udev --subsystem-match=block >"$out/udev.txt" 2>/dev/null &
monitor=$!
sleep 0.3
ready=$(date +%s.%N)
# The scenario's seconds count from raidmon's start, as in-process: its
# files are read once first, so that the start after the signal is quick.
"$raidmon" --help >/dev/null 2>&1
kill -USR1 "$pid"
"$raidmon" --log-dir "$out/log" --config-dir "$out" --duration "$seconds" >"$out/stdout.txt" 2>"$out/stderr.txt" &
mon=$!
if [ "$disturb" = 1 ]; then
  # The kernel's own commands between the program's: sd revalidates the
  # disk, and the block layer reads its first blocks (O_DIRECT, read-only).
  (
    while kill -0 "$mon" 2>/dev/null; do
      sleep 1.5
      for d in /sys/block/sd*; do
        echo 1 >"$d/device/rescan" 2>/dev/null
        dd if="/dev/${d##*/}" of=/dev/null bs=4096 count=2 iflag=direct status=none 2>/dev/null
      done
    done
  ) &
  disturber=$!
fi
wait "$mon"
rc=$?
done_at=$(date +%s.%N)
[ "$disturb" = 1 ] && wait "$disturber"
sleep 0.5
kill "$monitor"
wait "$monitor" 2>/dev/null

if [ "$norawio" = 1 ]; then
  # Root, but without the capability raw SCSI commands need.
  mkdir -p "$out/norawio/log"
  if command -v setpriv >/dev/null; then
    drop=(setpriv --inh-caps=-sys_rawio --ambient-caps=-sys_rawio --bounding-set=-sys_rawio)
  else
    drop=(capsh --drop=cap_sys_rawio -- -c 'exec "$0" "$@"')
  fi
  "${drop[@]}" "$raidmon" --log-dir "$out/norawio/log" --config-dir "$out/norawio" --duration 2 \
    >"$out/norawio/stdout.txt" 2>"$out/norawio/stderr.txt"
  echo $? >"$out/norawio/rc"
fi
if [ -n "$server" ]; then
  exec 9>&-
  wait "$server"
fi
kill "$pid"
wait "$pid"
dmesg >"$out/dmesg.txt"
echo "responder ready after $(echo "$ready - $start" | bc) s, raidmon ran $(echo "$done_at - $ready" | bc) s" >"$out/timing.txt"
exit "$rc"
