#!/usr/bin/env bash
# Changes through the monitor service: raidctl schedule, scan, initialize
# and upgrade (a good image, one too short, one too large, a missing file)
# with --service print what they print standalone, with the same exit
# codes, and the monitor sends the enclosure the same command sectors
# standalone raidctl sends. As root (in a mount namespace with a group file of its
# own): another user is refused with the reason and still reads the
# status; a member of the group raidgui is served.
set -euo pipefail
ctl="$1"; mon="$2"
work=$(mktemp -d /var/tmp/raid-changes.XXXXXX)
chmod 755 "$work"
mon_pid=""
trap '[ -n "$mon_pid" ] && kill -TERM "$mon_pid" 2>/dev/null; rm -rf "$work"' EXIT
export LC_ALL=C
fail() { echo "e2e_listen_changes: $*"; exit 1; }
sock="$work/raidmon.sock"
mkdir -p "$work/logs" "$work/run" "$work/alone"

XDG_RUNTIME_DIR="$work/run" "$mon" --simulate --log-dir "$work/logs" --listen "$sock" --trace "$work/mon.trace" \
  --duration 120 >"$work/mon.out" 2>"$work/mon.err" &
mon_pid=$!
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || fail "no socket: $(cat "$work/mon.err")"
# Until the first poll has read the record a change is refused for now.
for _ in $(seq 100); do
  "$ctl" status --service "$sock" 2>/dev/null | grep -q "HDD1" && break
  sleep 0.2
done

image="$work/fw.bin"
head -c 524288 /dev/zero | tr '\0' '\377' >"$image"
printf 'FIPS' | dd of="$image" conv=notrunc status=none
printf '\240' | dd of="$image" bs=1 seek=491521 conv=notrunc status=none
head -c 1000 "$image" >"$work/short.bin"
head -c 2000000 /dev/zero >"$work/large.bin"
commands=("schedule on --period 30" "schedule off" "scan start --drive 2" "scan stop --drive 2"
  "initialize --yes-destroy-data" "schedule on --slot 3" "upgrade $image --yes" "upgrade $work/short.bin --yes"
  "upgrade $work/large.bin --yes" "upgrade $work/missing.bin --yes")
: >"$work/alone.cmd"
for c in "${commands[@]}"; do
  # shellcheck disable=SC2086
  set +e
  rm -f "$work/alone.trace"  # a trace goes to a new file only
  XDG_RUNTIME_DIR="$work/alone" "$ctl" $c --simulate --trace "$work/alone.trace" >"$work/alone.out" 2>"$work/alone.err"
  want=$?
  "$ctl" $c --service "$sock" >"$work/served.out" 2>"$work/served.err"
  got=$?
  set -e
  [ "$got" -eq "$want" ] || fail "$c: exit $got through the service, $want standalone: $(cat "$work/served.err")"
  cmp -s "$work/alone.out" "$work/served.out" || fail "$c: $(diff "$work/alone.out" "$work/served.out")"
  cmp -s "$work/alone.err" "$work/served.err" || fail "$c: $(diff "$work/alone.err" "$work/served.err")"
  { grep " CMD " "$work/alone.trace" || true; } | cut -d' ' -f2- >>"$work/alone.cmd"
done

# Refused before anything is sent: a malformed change.
python3 - "$sock" <<'PY' || fail "a malformed change was not refused"
import json, socket, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.settimeout(20); f = s.makefile("r")
def ask(o):
    s.sendall(json.dumps(o).encode() + b"\n"); return json.loads(f.readline())
assert ask({"op": "hello", "id": 1, "protocol": 1})["ok"]
a = ask({"op": "schedule", "id": 2, "on": True})
assert not a["ok"] and "needs protocol 2" in a["error"], a
s.close()
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.settimeout(20); f = s.makefile("r")
assert ask({"op": "hello", "id": 1, "protocol": 2})["ok"]
for bad in ({"op": "scan", "id": 3, "drive": 3, "stop": False}, {"op": "schedule", "id": 4, "on": False, "period": 30},
            {"op": "initialize", "id": 5, "drive": 1}, {"op": "list", "id": 6, "slot": 0}):
    a = ask(bad)
    assert not a["ok"], (bad, a)
PY

# Rights, as another user: in a mount namespace whose group file has the
# group raidgui, with a second monitor there (its socket is the client's
# way in; getgrnam reads the namespace's group file).
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && command -v setpriv >/dev/null &&
  unshare -m true 2>/dev/null; then
  unshare -m bash -s "$ctl" "$mon" "$work" <<'INNER' || fail "rights: $(cat "$work/rights.txt" 2>/dev/null)"
set -euo pipefail
ctl="$1"; mon="$2"; work="$3"
mount --make-rprivate /
cp /etc/group "$work/group"
grep -q '^raidgui:' "$work/group" || echo "raidgui:x:64999:" >>"$work/group"
gid=$(grep '^raidgui:' "$work/group" | cut -d: -f3)
mount --bind "$work/group" /etc/group
mkdir -p "$work/r-logs" "$work/r-run"
sock="$work/rights.sock"
XDG_RUNTIME_DIR="$work/r-run" "$mon" --simulate --log-dir "$work/r-logs" --listen "$sock" --duration 60 \
  >/dev/null 2>"$work/r-mon.err" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
for _ in $(seq 100); do
  "$ctl" status --service "$sock" 2>/dev/null | grep -q "HDD1" && break
  sleep 0.2
done
: >"$work/rights.txt"
set +e
setpriv --reuid=65534 --regid=65534 --clear-groups "$ctl" schedule off --service "$sock" >>"$work/rights.txt" 2>&1
rc=$?
set -e
[ "$rc" -eq 1 ] || { echo "an outsider's change ended with $rc" >>"$work/rights.txt"; exit 1; }
grep -q "refused: changes need root or membership of the group raidgui (user id 65534 is neither)" "$work/rights.txt"
setpriv --reuid=65534 --regid=65534 --clear-groups "$ctl" status --service "$sock" >>"$work/rights.txt" 2>&1
setpriv --reuid=65534 --regid=65534 --groups="$gid" "$ctl" schedule off --service "$sock" >"$work/member.txt" 2>&1 ||
  { cat "$work/member.txt" >>"$work/rights.txt"; exit 1; }
grep -qx "Schedule Backup Disable" "$work/member.txt"
INNER
fi

# The trace is complete once the monitor has ended. A command sector keeps
# the bytes the previous command left beyond those it sets (the window's
# way), which differ between a fresh raidctl and a monitor that sent a scan
# before: the schedule and scan commands are compared whole, the others
# (initialisation steps, the flash walk's commands) by their code.
kill -TERM "$mon_pid"; wait "$mon_pid" || true; mon_pid=""
{ grep " CMD " "$work/mon.trace" || true; } | cut -d' ' -f2- >"$work/served.cmd"
sed -Ei '/ CMD 33 58 (20|24) /!s/^(PD[0-9] CMD 33 58 [0-9A-F]{2} [0-9A-F]{2}) .*/\1/' "$work/alone.cmd" "$work/served.cmd"
cmp -s "$work/alone.cmd" "$work/served.cmd" || fail "the command sectors: $(diff "$work/alone.cmd" "$work/served.cmd")"
echo "e2e_listen_changes: ok"
