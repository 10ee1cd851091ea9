#!/bin/bash
# Inside the test guest (qemu-run.sh): the stories of the USB path, one after
# the other, each with its own gadget. Every result goes to RESULTS/STORY/.
#   usb-stories-guest.sh BUILD SOURCE RESULTS [STORIES]
#   detect   the story scenario behind /dev/sda (HDD2 removed, inserted,
#            rebuilt, bad sectors), raidmon on it for 38 s. The scenario's
#            clock starts with raidmon (the gadget holds it until SIGUSR1);
#            its events come 5 s apart, more than a poll.
#   hotplug  the enclosure unplugged and plugged back 9 s, 5 s and 2 s later;
#            raidmon on it for 64 s
#   transports  four enclosures, one of each transport, and a plain disk as
#            five USB disks on five controllers; raidctl list and status
#   hang     raidctl status while the fourth vendor request is never answered:
#            usb-storage gives up on it and resets the device
#   upgrade  a whole firmware upgrade with raidctl through the kernel
build="$1"; src="$2"; results="$3"; stories="${4:-detect transports hang upgrade}"
export LC_ALL=C XDG_RUNTIME_DIR=/run/raid
mkdir -p "$XDG_RUNTIME_DIR"
echo "guest: script started at $(cut -d' ' -f1 /proc/uptime) s of guest uptime"
date +%s.%N >"$results/guest-start"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# The USB disks udev has named (whole disks, not partitions).
usb_disks() { ls /dev/disk/by-id/ 2>/dev/null | grep '^usb-' | grep -vc -- '-part[0-9]*$'; }

# Starts a gadget for a story (its log RESULTS/STORY/LOG.log) and waits until
# udev has named one more USB disk. gadget_pids collects them for stop_gadgets.
gadget_pids=()
start_gadget() {
  local story="$1" log="$2"; shift 2
  local before i
  before=$(usb_disks)
  "$build/raid-usb-responder" --gadget "$story$log" --log "$results/$story/$log.log" "$@" \
    >"$results/$story/$log.out" 2>&1 &
  gadget_pids+=($!)
  for i in $(seq 200); do
    [ "$(usb_disks)" -gt "$before" ] && return 0
    sleep 0.1
  done
  echo "guest: $story: no disk appeared"
  return 1
}

stop_gadgets() {
  kill "${gadget_pids[@]}" 2>/dev/null
  wait "${gadget_pids[@]}"
  gadget_pids=()
  # The disks go away with the gadgets.
  local i
  for i in $(seq 100); do
    [ "$(usb_disks)" -eq 0 ] && break
    sleep 0.1
  done
}

# A story told by raidmon's day log: the scenario behind one gadget, raidmon
# on the real disk for SECONDS.
daylog_story() {
  local story="$1" scenario="$2" seconds="$3" t0
  mkdir -p "$results/$story/daylog" "$results/$story/config"
  t0=$(now)
  start_gadget "$story" responder --scenario "$src/tests/realkernel/$scenario" --start-on-signal || return 1
  echo "guest: $story: the disk after $(elapsed "$t0" "$(now)") s"
  # The scenario's seconds count from raidmon's start, as in-process.
  "$build/app/raidmon" --log-dir "$results/$story/daylog" --config-dir "$results/$story/config" \
    --duration "$seconds" >"$results/$story/raidmon.out" 2>&1 &
  local mon=$!
  kill -USR1 "${gadget_pids[-1]}"
  wait "$mon"
  echo $? >"$results/$story/raidmon.rc"
  stop_gadgets
  echo "guest: $story: story done in $(elapsed "$t0" "$(now)") s"
}

story_detect() { daylog_story detect usb-story.json 38; }
story_hotplug() { daylog_story hotplug usb-hotplug.json 64; }

story_transports() {
  mkdir -p "$results/transports"
  local t0 drive
  t0=$(now)
  # One gadget per drive, each on a controller of its own, plugged in drive
  # order so that /dev/sda.. are drives 0.. as in-process.
  for drive in 0 1 2 3 4; do
    start_gadget transports "pd$drive" --scenario "$src/tests/realkernel/usb-transports.json" --drive "$drive" \
      --udc "dummy_udc.$drive" || return 1
  done
  echo "guest: transports: five disks after $(elapsed "$t0" "$(now)") s"
  local what
  for what in list status; do
    "$build/app/raidctl" "$what" >"$results/transports/$what.out" 2>&1 </dev/null
    echo $? >"$results/transports/$what.rc"
  done
  stop_gadgets
  echo "guest: transports: story done in $(elapsed "$t0" "$(now)") s"
}

story_hang() {
  mkdir -p "$results/hang"
  local t0
  start_gadget hang responder --scenario "$src/tests/realkernel/usb-hang.json" || return 1
  t0=$(now)
  "$build/app/raidctl" status >"$results/hang/raidctl.out" 2>&1 </dev/null
  echo $? >"$results/hang/raidctl.rc"
  elapsed "$t0" "$(now)" >"$results/hang/seconds"
  stop_gadgets
  echo "guest: hang: raidctl ended with $(cat "$results/hang/raidctl.rc") after $(cat "$results/hang/seconds") s"
}

story_upgrade() {
  mkdir -p "$results/upgrade"
  local t0 t1 rc
  start_gadget upgrade responder --trace "$results/upgrade/trace.txt" || return 1
  t0=$(now)
  "$build/app/raidctl" upgrade "$results/fw.bin" --yes >"$results/upgrade/raidctl.out" 2>&1 </dev/null
  rc=$?
  t1=$(now)
  echo "$rc" >"$results/upgrade/raidctl.rc"
  elapsed "$t0" "$t1" >"$results/upgrade/seconds"
  stop_gadgets
  echo "guest: upgrade: raidctl ended with $rc after $(cat "$results/upgrade/seconds") s"
}

for story in $stories; do
  "story_$story"
done
dmesg >"$results/dmesg.txt"
exit 0
