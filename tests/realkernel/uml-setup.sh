#!/usr/bin/env bash
# Every setup command through a real kernel: raidctl switches the schedule
# backup on and off, starts and stops a media scan and initialises the array
# of an enclosure served by raid-tcmu-responder in a user-mode-linux guest.
# Each command's output and exit code, and the command sectors the
# controller accepted (the simulator's trace), must equal the same commands
# played in-process with --simulate.
#
#   uml-setup.sh RAID_TCMU_RESPONDER RAIDCTL SOURCE_DIR
#
# Exits 77 with one line saying why when this machine cannot run the guest.
set -uo pipefail
responder="$(realpath "$1")"
raidctl="$(realpath "$2")"
src="$(realpath "$3")"
scenario="$src/tests/realkernel/upgrade.json"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cat >"$work/commands.txt" <<'CMDS'
schedule on --period 30
schedule off
scan start --drive 1
scan stop --drive 1
initialize --yes-destroy-data
CMDS

# In-process: each command on the simulated machine, the trace of all of
# them in one file.
mkdir -p "$work/sim"
n=0
while IFS= read -r line; do
  n=$((n + 1))
  # shellcheck disable=SC2086
  XDG_RUNTIME_DIR="$work/sim" "$raidctl" $line --simulate "$scenario" --trace "$work/sim/$n.trace" \
    >"$work/sim/$n.out" 2>"$work/sim/$n.err"
  echo $? >"$work/sim/$n.rc"
done <"$work/commands.txt"

rc=0
bash "$src/tests/realkernel/uml-run.sh" --timeout 120 "$work" "$src/tests/realkernel/story-setup.sh" \
  "$responder" "$raidctl" "$scenario" "$work/commands.txt" "$work/real" >"$work/console.txt" 2>&1 || rc=$?
if [ "$rc" -eq 77 ]; then
  grep -m1 'SKIP' "$work/console.txt"
  exit 77
fi
fail=0
if [ "$rc" -ne 0 ]; then
  echo "uml-setup: the guest run failed ($rc)" >&2
  fail=1
fi
for i in $(seq "$n"); do
  what="raidctl $(sed -n "${i}p" "$work/commands.txt")"
  for f in out err rc; do
    if ! diff -u "$work/sim/$i.$f" "$work/real/$i.$f"; then
      echo "uml-setup: $what: its $f through the kernel differs from the in-process one" >&2
      fail=1
    fi
  done
done
# The command sectors the controller took, in order.
cmds() { grep -h ' CMD ' "$@" | cut -d' ' -f3-; }
if ! diff -u <(for i in $(seq "$n"); do cmds "$work/sim/$i.trace"; done) <(cmds "$work/real/trace.txt"); then
  echo "uml-setup: the command sectors through the kernel differ from the in-process ones" >&2
  fail=1
fi
if [ "$fail" -ne 0 ]; then
  cat "$work/console.txt" >&2
  tail -20 "$work/real/responder.log" >&2 2>/dev/null
  exit 1
fi
echo "uml-setup: $n setup commands through user-mode-linux: the same outputs, exit codes and command sectors as in-process"
