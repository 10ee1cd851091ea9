#!/bin/bash
# Inside the test guest (qemu-run.sh): the stories of the USB path, one after
# the other, each with its own gadget. Every result goes to RESULTS/STORY/.
#   usb-stories-guest.sh BUILD SOURCE RESULTS [STORIES]
#   detect   the story scenario behind /dev/sda, raidmon on it for 48 s. The
#            scenario's clock starts with the gadget, a few seconds before
#            raidmon, so its first event comes at 10 s and the next ones 5 s
#            apart (more than a poll); the replug is found within about 8 s.
#   hang     raidctl status while the fourth vendor request is never answered:
#            usb-storage gives up on it and resets the device
#   upgrade  a whole firmware upgrade with raidctl through the kernel
build="$1"; src="$2"; results="$3"; stories="${4:-detect hang upgrade}"
export LC_ALL=C XDG_RUNTIME_DIR=/run/raid
mkdir -p "$XDG_RUNTIME_DIR"
echo "guest: script started at $(cut -d' ' -f1 /proc/uptime) s of guest uptime"
date +%s.%N >"$results/guest-start"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# Starts the gadget for a story (gadget_pid) and waits for its disk (disk).
start_gadget() {
  local story="$1"; shift
  "$build/raid-usb-responder" --gadget "$story" --log "$results/$story/responder.log" \
    --ready "$results/$story/ready" "$@" >"$results/$story/responder.out" 2>&1 &
  gadget_pid=$!
  local i d
  for i in $(seq 200); do
    for d in /dev/disk/by-id/usb-*; do
      if [ -e "$d" ]; then
        disk=$(readlink -f "$d")
        return 0
      fi
    done
    sleep 0.1
  done
  echo "guest: $story: no disk appeared"
  return 1
}

stop_gadget() {
  kill "$gadget_pid" 2>/dev/null
  wait "$gadget_pid"
  # The disk goes away with the gadget.
  udevadm settle --timeout=10
}

story_detect() {
  mkdir -p "$results/detect/daylog" "$results/detect/config"
  local t0
  t0=$(now)
  start_gadget detect --scenario "$src/tests/realkernel/usb-story.json" || return 1
  echo "guest: detect: $disk after $(elapsed "$t0" "$(now)") s"
  "$build/app/raidmon" --log-dir "$results/detect/daylog" --config-dir "$results/detect/config" --duration 48 \
    >"$results/detect/raidmon.out" 2>&1
  echo $? >"$results/detect/raidmon.rc"
  stop_gadget
  echo "guest: detect: story done in $(elapsed "$t0" "$(now)") s"
}

story_hang() {
  mkdir -p "$results/hang"
  local t0
  start_gadget hang --scenario "$src/tests/realkernel/usb-hang.json" || return 1
  t0=$(now)
  "$build/app/raidctl" status >"$results/hang/raidctl.out" 2>&1 </dev/null
  echo $? >"$results/hang/raidctl.rc"
  elapsed "$t0" "$(now)" >"$results/hang/seconds"
  stop_gadget
  echo "guest: hang: raidctl ended with $(cat "$results/hang/raidctl.rc") after $(cat "$results/hang/seconds") s"
}

story_upgrade() {
  mkdir -p "$results/upgrade"
  local t0 t1 rc
  start_gadget upgrade || return 1
  t0=$(now)
  "$build/app/raidctl" upgrade "$results/fw.bin" --yes >"$results/upgrade/raidctl.out" 2>&1 </dev/null
  rc=$?
  t1=$(now)
  echo "$rc" >"$results/upgrade/raidctl.rc"
  elapsed "$t0" "$t1" >"$results/upgrade/seconds"
  stop_gadget
  echo "guest: upgrade: raidctl ended with $rc after $(cat "$results/upgrade/seconds") s"
}

for story in $stories; do
  "story_$story"
done
dmesg >"$results/dmesg.txt"
exit 0
