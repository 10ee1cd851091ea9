#!/usr/bin/env bash
# A whole firmware upgrade through a real kernel: raidctl writes an image to
# a block-transport enclosure served by raid-tcmu-responder in a
# user-mode-linux guest (every command sector a WRITE(10) through the
# kernel, every verify a READ(10)). Its output must equal the same upgrade
# played in-process with --simulate.
#
#   uml-upgrade.sh RAID_TCMU_RESPONDER RAIDCTL SOURCE_DIR RAIDMON
#
# Then the monitor service writes the image again for a client on its
# device thread: the client gets progress messages, stops the upgrade at
# the next request, and the day log says it stopped; an upgrade whose
# client went away runs to its end, and the day log says so.
#
# Exits 77 with one line saying why when this machine cannot run the guest.
set -uo pipefail
responder="$(realpath "$1")"
raidctl="$(realpath "$2")"
src="$(realpath "$3")"
raidmon="$(realpath "$4")"
scenario="$src/tests/realkernel/upgrade.json"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# An image the upgrade accepts: its mark, the configuration version the
# simulated controller has, random bytes elsewhere.
python3 - "$work/fw.bin" <<'PY'
import random, sys
r = random.Random(7)
b = bytearray(r.getrandbits(8) for _ in range(0x80000))
b[0:4] = b"FIPS"
b[0x78001] = 0xA0
open(sys.argv[1], "wb").write(b)
PY

mkdir -p "$work/sim"
"$raidctl" upgrade "$work/fw.bin" --yes --simulate "$scenario" >"$work/sim/stdout.txt" 2>"$work/sim/stderr.txt" || {
  echo "uml-upgrade: the in-process upgrade failed" >&2
  cat "$work/sim/stderr.txt" >&2
  exit 1
}

t0=$(date +%s.%N)
rc=0
bash "$src/tests/realkernel/uml-run.sh" --timeout 120 "$work" "$src/tests/realkernel/story-upgrade.sh" \
  "$responder" "$raidctl" "$scenario" "$work/fw.bin" "$work/real" "$raidmon" >"$work/console.txt" 2>&1 || rc=$?
t1=$(date +%s.%N)
if [ "$rc" -eq 77 ]; then
  grep -m1 'SKIP' "$work/console.txt"
  exit 77
fi
fail=0
if [ "$rc" -ne 0 ]; then
  echo "uml-upgrade: the upgrade through the kernel failed ($rc)" >&2
  fail=1
fi
for f in stdout.txt stderr.txt; do
  if ! diff -u "$work/sim/$f" "$work/real/$f"; then
    echo "uml-upgrade: raidctl's $f through the kernel differs from the in-process one" >&2
    fail=1
  fi
done
writes=$(grep -c 'pd0 2A .* OUT 512 -> GOOD 512' "$work/real/responder.log")
if [ "$writes" -lt 3200 ]; then
  echo "uml-upgrade: only $writes command sectors went through the kernel" >&2
  fail=1
fi
served="$work/real/served"
python3 - "$served/client.txt" <<'PY' || fail=1
import json, sys
lines = dict(l.split(": ", 1) for l in open(sys.argv[1]).read().splitlines() if ": " in l)
progress = json.loads(lines.get("progress", "[]"))
answer = json.loads(lines.get("answer", "{}"))
ok = len(progress) >= 2 and lines.get("stopping") == "True" and answer.get("ok") and \
    answer["result"]["exit"] == 1 and "Firmware upgrade stopped" in answer["result"]["out"]
if not ok:
    print("uml-upgrade: the served upgrade was not stopped as asked:", open(sys.argv[1]).read(), file=sys.stderr)
sys.exit(0 if ok else 1)
PY
if ! grep -qs "Service: firmware upgrade of Device1 for a client: stopped: Firmware upgrade stopped" "$served"/logs/*.log ||
  ! grep -qs "for a client: done (its client had gone; it ran to its end all the same)" "$served"/logs/*.log; then
  echo "uml-upgrade: the day log does not say how the served upgrades ended" >&2
  cat "$served"/logs/*.log "$served/mon.err" >&2
  fail=1
fi
if [ "$fail" -ne 0 ]; then
  cat "$work/console.txt" >&2
  tail -20 "$work/real/responder.log" >&2
  exit 1
fi
echo "uml-upgrade: same output through user-mode-linux; $(cat "$work/real/timing.txt"), guest $(printf '%.1f' "$(echo "$t1 - $t0" | bc)") s in all"
