#!/usr/bin/env bash
# The real-kernel stories of the USB path in one boot: the gadget
# (raid-usb-responder) answered by the simulator behind a real /dev/sda,
# raidmon and raidctl on it inside the guest; the same stories in-process on
# this machine meanwhile. Leaves in RESULTS one folder per story with its
# outcome (STORY/status: 0 passed, else failed, with STORY/why) for
# usb-check.sh, and timings in RESULTS/timings.
#   usb-stories.sh BUILD_DIR SOURCE_DIR RESULTS_DIR
# RAID_STORIES="detect upgrade" runs only those (the others get no outcome).
# The default leaves out hotplug: the kernel and the in-process run do not
# agree on it yet (docs/realkernel.md).
# Exits 77 (with one line) when this machine cannot boot the guest.
set -uo pipefail
build="$(realpath "$1")"; src="$(realpath "$2")"; results="$3"
here="$src/tests/realkernel"
if ! bash "$here/qemu-run.sh" --check; then
  mkdir -p "$3"
  touch "$3/skipped"
  exit 77
fi
rm -rf "$results"
mkdir -p "$results"
results="$(realpath "$results")"
export LC_ALL=C

# The firmware image of tests/e2e_raidctl.sh: 0xFF bytes with the two marks.
head -c 524288 /dev/zero | tr '\0' '\377' >"$results/fw.bin"
printf 'FIPS' | dd of="$results/fw.bin" conv=notrunc status=none
printf '\240' | dd of="$results/fw.bin" bs=1 seek=491521 conv=notrunc status=none

# The stories told by raidmon's day log: name, scenario, seconds. Their
# in-process runs play on the real clock too, so they run beside the guest.
stories="${RAID_STORIES:-detect transports hang upgrade}"
selected() { [[ " $stories " == *" $1 "* ]]; }
daylog_stories=(detect:usb-story.json:38 hotplug:usb-hotplug.json:64)
sim_pids=()
mkdir -p "$results/sim/run"
for s in "${daylog_stories[@]}"; do
  IFS=: read -r name scenario seconds <<<"$s"
  selected "$name" || continue
  mkdir -p "$results/sim/$name/daylog" "$results/sim/$name/config" "$results/sim/run/$name"
  XDG_RUNTIME_DIR="$results/sim/run/$name" "$build/app/raidmon" --simulate "$here/$scenario" --duration "$seconds" \
    --log-dir "$results/sim/$name/daylog" --config-dir "$results/sim/$name/config" \
    >"$results/sim/$name/raidmon.out" 2>&1 &
  sim_pids+=($!)
done

t0=$(date +%s.%N)
bash "$here/qemu-run.sh" --timeout 360 "$results" bash "$here/usb-stories-guest.sh" "$build" "$src" "$results" \
  "$stories" \
  >"$results/console.txt" 2>&1
rc=$?
t1=$(date +%s.%N)
wait "${sim_pids[@]}"
cat "$results/console.txt"
if [ "$rc" -eq 77 ]; then
  touch "$results/skipped"
  exit 77
fi
awk -v a="$t0" -v b="$t1" 'BEGIN { printf "boot and stories: %.1f s\n", b - a }' >>"$results/timings"
if [ -f "$results/guest-start" ]; then
  awk -v a="$t0" -v b="$(cat "$results/guest-start")" 'BEGIN { printf "boot to the guest script: %.1f s\n", b - a }' \
    >>"$results/timings"
fi
if [ "$rc" -ne 0 ]; then
  echo "realkernel: the guest run ended with $rc"
  exit 1
fi

verdict() { # STORY STATUS WHY
  echo "$2" >"$results/$1/status"
  [ -n "${3:-}" ] && printf '%s\n' "$3" >"$results/$1/why"
  return 0
}

# Day logs with their date-times masked.
masked() { sed -E 's#[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}#<date-time>#g' "$@"; }

# detect, hotplug: raidmon ran on the real disk, and its day log is the
# in-process one's.
for s in "${daylog_stories[@]}"; do
  IFS=: read -r name scenario seconds <<<"$s"
  selected "$name" || continue
  d="$results/$name"
  if [ ! -f "$d/raidmon.rc" ]; then
    mkdir -p "$d"
    verdict "$name" 1 "raidmon did not run in the guest"
  elif [ "$(cat "$d/raidmon.rc")" != 0 ]; then
    verdict "$name" 1 "raidmon ended with $(cat "$d/raidmon.rc"): $(tail -5 "$d/raidmon.out")"
  else
    masked "$d"/daylog/*.log >"$d/daylog.masked"
    masked "$results/sim/$name"/daylog/*.log >"$results/sim/$name/daylog.masked"
    if diff -u "$results/sim/$name/daylog.masked" "$d/daylog.masked" >"$d/daylog.diff"; then
      verdict "$name" 0
    else
      verdict "$name" 1 "the day log differs from the in-process run's: $(cat "$d/daylog.diff")"
    fi
  fi
done

# transports: raidctl finds the four enclosures behind five USB disks, each
# by its own transport, declines the plain disk, and says what it says
# in-process.
if selected transports; then
  tr="$results/transports"
  mkdir -p "$tr"
  for what in list status; do
    XDG_RUNTIME_DIR="$results/sim/run" "$build/app/raidctl" "$what" --simulate "$here/usb-transports.json" \
      >"$results/sim/transports-$what.out" 2>&1 </dev/null
    echo $? >"$results/sim/transports-$what.rc"
  done
  why=
  for what in list status; do
    if [ ! -f "$tr/$what.rc" ]; then
      why="raidctl $what did not run in the guest"
      break
    elif [ "$(cat "$tr/$what.rc")" != "$(cat "$results/sim/transports-$what.rc")" ] ||
      ! diff -u "$results/sim/transports-$what.out" "$tr/$what.out" >"$tr/$what.diff"; then
      why="raidctl $what ended with $(cat "$tr/$what.rc") (in-process $(cat "$results/sim/transports-$what.rc")): $(cat "$tr/$what.diff")"
      break
    fi
  done
  if [ -n "$why" ]; then
    verdict transports 1 "$why"
  elif [ "$(grep -c 'enclosure ' "$tr/list.out")" -ne 4 ]; then
    verdict transports 1 "raidctl list did not find four enclosures: $(cat "$tr/list.out")"
  else
    verdict transports 0
  fi
fi

# hang: the request held unanswered ended in usb-storage's reset, the
# commands after it were answered, and raidctl said what it says in-process.
if selected hang; then
  hang="$results/hang"
  XDG_RUNTIME_DIR="$results/sim/run" "$build/app/raidctl" status --simulate "$here/usb-hang.json" \
    >"$results/sim/hang.out" 2>&1 </dev/null
  echo $? >"$results/sim/hang.rc"
  if [ ! -f "$hang/raidctl.rc" ]; then
    mkdir -p "$hang"
    verdict hang 1 "raidctl did not run in the guest"
  elif ! grep -q " HANG$" "$hang/responder.log"; then
    verdict hang 1 "no command was held: $(grep -c ' cdb ' "$hang/responder.log") commands answered"
  elif ! sed -n '/ HANG$/,$p' "$hang/responder.log" | grep -qE "usb: (disabled|Bulk-Only Mass Storage Reset)"; then
    verdict hang 1 "the host never reset the device after the held command"
  elif ! sed -n '/ HANG$/,$p' "$hang/responder.log" | grep -q " cdb fe .* GOOD$"; then
    verdict hang 1 "no vendor request was answered after the reset"
  elif [ "$(cat "$hang/raidctl.rc")" != "$(cat "$results/sim/hang.rc")" ] ||
    ! diff -u "$results/sim/hang.out" "$hang/raidctl.out" >"$hang/raidctl.diff"; then
    verdict hang 1 "raidctl ended with $(cat "$hang/raidctl.rc") (in-process $(cat "$results/sim/hang.rc")): $(cat "$hang/raidctl.diff")"
  else
    verdict hang 0
    echo "hang: raidctl status took $(cat "$hang/seconds") s with one request held until the reset" >>"$results/timings"
  fi
fi

# upgrade: raidctl wrote and verified the whole image through the kernel,
# with the command sectors of the in-process upgrade, in the same order, and
# the same output.
if selected upgrade; then
  up="$results/upgrade"
  XDG_RUNTIME_DIR="$results/sim/run" "$build/app/raidctl" upgrade "$results/fw.bin" --simulate --yes \
    --trace "$results/sim/upgrade-trace.txt" >"$results/sim/upgrade.out" 2>&1 </dev/null
  # The command sectors, without the time each was sent at.
  commands() { grep ' CMD ' "$1" | cut -d' ' -f2-; }
  if [ ! -f "$up/raidctl.rc" ]; then
    mkdir -p "$up"
    verdict upgrade 1 "raidctl did not run in the guest"
  elif [ "$(cat "$up/raidctl.rc")" != 0 ] || ! grep -q "raidctl: SPI Verify OK" "$up/raidctl.out" ||
    ! grep -q "raidctl: Chksum:07F7FCD7" "$up/raidctl.out"; then
    verdict upgrade 1 "raidctl ended with $(cat "$up/raidctl.rc"): $(tail -5 "$up/raidctl.out")"
  elif ! diff -u "$results/sim/upgrade.out" "$up/raidctl.out" >"$up/raidctl.diff"; then
    verdict upgrade 1 "raidctl's output differs from the in-process upgrade's: $(head -40 "$up/raidctl.diff")"
  elif ! diff <(commands "$results/sim/upgrade-trace.txt") <(commands "$up/trace.txt") >"$up/trace.diff"; then
    verdict upgrade 1 "the command sectors differ from the in-process upgrade's: $(head -20 "$up/trace.diff")"
  else
    verdict upgrade 0
    echo "upgrade through the kernel: $(cat "$up/seconds") s, $(commands "$up/trace.txt" | wc -l) command sectors," \
      "$(grep -c ' cdb ' "$up/responder.log") commands at the gadget" >>"$results/timings"
  fi
fi

cat "$results/timings"
exit 0
