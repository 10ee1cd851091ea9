#!/usr/bin/env bash
# A story through a real kernel: the scenario's disks (an enclosure on drive
# 0, a disk that is not one on drive 1) served by raid-tcmu-responder as SCSI
# disks of a user-mode-linux guest, watched by raidmon on the real disks
# (SG_IO, libudev) for SECONDS. Its day log and output, date-times masked,
# must equal the same scenario played in-process with --simulate.
#
#   uml-story.sh RAID_TCMU_RESPONDER RAIDMON SOURCE_DIR SCENARIO SECONDS
#
# Exits 77 with one line saying why when this machine cannot run the guest.
set -uo pipefail
responder="$(realpath "$1")"
raidmon="$(realpath "$2")"
src="$(realpath "$3")"
scenario="$(realpath "$4")"
seconds="$5"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sim/log"

"$raidmon" --simulate "$scenario" --duration "$seconds" --log-dir "$work/sim/log" --config-dir "$work/sim" \
  >"$work/sim/stdout.txt" 2>"$work/sim/stderr.txt" || {
  echo "uml-story: the in-process run failed" >&2
  cat "$work/sim/stderr.txt" >&2
  exit 1
}

t0=$(date +%s.%N)
rc=0
bash "$src/tests/realkernel/uml-run.sh" --timeout 120 "$work" "$src/tests/realkernel/story-detect.sh" \
  "$responder" "$raidmon" "$scenario" "$seconds" "$work/real" >"$work/console.txt" 2>&1 || rc=$?
t1=$(date +%s.%N)
if [ "$rc" -eq 77 ]; then
  grep -m1 'SKIP' "$work/console.txt"
  exit 77
fi
if [ "$rc" -ne 0 ]; then
  echo "uml-story: the guest run failed ($rc)" >&2
  cat "$work/console.txt" "$work/real/stderr.txt" >&2 2>/dev/null
  tail -40 "$work/real/responder.log" >&2 2>/dev/null
  exit 1
fi

mask() { sed -E 's#[0-9]{2}/[0-9]{2}/[0-9]{2} +[0-9]{1,2}:[0-9]{2}:[0-9]{2}#<date-time>#g' "$@"; }
fail=0
if ! diff -u <(mask "$work"/sim/log/*.log) <(mask "$work"/real/log/*.log); then
  echo "uml-story: the day log through the kernel differs from the in-process one" >&2
  fail=1
fi
if ! diff -u <(mask "$work/sim/stdout.txt") <(mask "$work/real/stdout.txt"); then
  echo "uml-story: raidmon's output through the kernel differs from the in-process one" >&2
  fail=1
fi
# Both disks were there, the program's vendor CDBs and the kernel's own
# housekeeping reached the responder, and the plain disk declined them.
if ! grep -qx 'sda' "$work/real/disks.txt" || ! grep -qx 'sdb' "$work/real/disks.txt"; then
  echo "uml-story: the guest did not show sda and sdb" >&2
  fail=1
fi
for want in 'pd0 FE 8B .* -> GOOD 512' 'pd1 FE 8B .* -> CHECK 05/20/00' 'pd0 25 00 .* -> GOOD 8' 'pd0 1A 00 3F '; do
  if ! grep -q "$want" "$work/real/responder.log"; then
    echo "uml-story: no '$want' in the responder's log" >&2
    fail=1
  fi
done
# A story with a hang: the responder held the request until the kernel's
# error handler aborted it, and the program said the same as in-process.
if grep -q '"mode": "hang"' "$scenario"; then
  for want in 'held (no answer)' 'aborted by the host'; do
    if ! grep -q "$want" "$work/real/responder.log"; then
      echo "uml-story: no '$want' in the responder's log" >&2
      fail=1
    fi
  done
  folders() { sed -E 's#^raidmon: day log folder: .*#raidmon: day log folder: <folder>#' "$@"; }
  if ! diff -u <(folders "$work/sim/stderr.txt") <(folders "$work/real/stderr.txt"); then
    echo "uml-story: raidmon's messages through the kernel differ from the in-process ones" >&2
    fail=1
  fi
fi
if [ "$fail" -ne 0 ]; then
  cat "$work/console.txt" >&2
  exit 1
fi
echo "uml-story: $(basename "$scenario"): same day log and output through user-mode-linux; guest $(printf '%.1f' "$(echo "$t1 - $t0" | bc)") s in all ($(cat "$work/real/timing.txt"))"
