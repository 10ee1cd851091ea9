#!/usr/bin/env bash
# raidmon --listen end to end: raidctl list, status, status --json and check
# through the monitor service print what they print standalone, with the
# same exit codes; a subscriber hears a drive removal as a typed event with
# its day log line; wrong protocol versions, requests before hello,
# malformed and oversized lines are refused without hurting other clients.
set -euo pipefail
ctl="$1"; mon="$2"
work=$(mktemp -d)
mon_pid=""
trap '[ -n "$mon_pid" ] && kill -TERM "$mon_pid" 2>/dev/null; rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "$*"; exit 1; }
sock="$work/raidmon.sock"

# HDD2 leaves 3 s into the run; the final state is also a scenario of its own.
enclosure='"name":"E1","model":"Two-bay RAID","status":{"hdd1":"present","hdd2":"%s"}'
printf '{"clock":{"speed":1},"enclosures":[{'"$enclosure"'}],"disks":[{"drive":0,"enclosure":"E1"}],
  "timeline":[{"at":3,"enclosure":"E1","set":{"hdd2":"absent"}}]}\n' present >"$work/story.json"
printf '{"enclosures":[{'"$enclosure"'}],"disks":[{"drive":0,"enclosure":"E1"}]}\n' absent >"$work/after.json"

mkdir "$work/logs"
"$mon" --simulate "$work/story.json" --log-dir "$work/logs" --listen "$sock" --duration 60 \
  >"$work/mon.out" 2>"$work/mon.err" &
mon_pid=$!
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || fail "no socket: $(cat "$work/mon.err")"

# A second service at the same address is refused.
mkdir "$work/other"
set +e; XDG_RUNTIME_DIR="$work/other" "$mon" --simulate "$work/story.json" --log-dir "$work/other" --listen "$sock" \
  --duration 1 >/dev/null 2>"$work/second.err"
rc=$?; set -e
[ "$rc" -eq 1 ] && grep -q "another service already answers at" "$work/second.err" || fail "second service: $rc $(cat "$work/second.err")"

python3 - "$sock" >"$work/proto.txt" <<'PY' || fail "protocol: $(cat "$work/proto.txt")"
import json, socket, sys, time
path = sys.argv[1]
def connect():
    s = socket.socket(socket.AF_UNIX); s.connect(path); s.settimeout(20); return s, s.makefile("r")
def ask(s, f, obj):
    s.sendall((obj if isinstance(obj, str) else json.dumps(obj)).encode() + b"\n"); return json.loads(f.readline())
s, f = connect()
a = ask(s, f, {"op": "status", "id": 7})
assert not a["ok"] and "hello" in a["error"] and a["id"] == 7, a
a = ask(s, f, {"op": "hello", "id": 1, "protocol": 3})
assert not a["ok"] and "speaks protocols 1 to 2" in a["error"], a
a = ask(s, f, "{not json")
assert not a["ok"], a
a = ask(s, f, {"op": "hello", "id": 2, "protocol": 1, "client": "test", "extra": 1})
assert not a["ok"] and "extra" in a["error"], a
a = ask(s, f, {"op": "hello", "id": 3, "protocol": 1, "client": "test"})
assert a["ok"] and a["result"]["protocol"] == 1 and a["result"]["server"].startswith("RAID GUI v"), a
# An oversized line closes only that client.
big, bf = connect()
try:
    big.sendall(b"x" * 3000000)
    assert bf.readline() == "", "the oversized client was kept"
except (ConnectionResetError, BrokenPipeError):
    pass
a = ask(s, f, {"op": "subscribe", "id": 4})
assert a["ok"], a
deadline = time.time() + 30
while True:
    assert time.time() < deadline, "no removal event"
    e = json.loads(f.readline())
    if e.get("event") and e["event"]["kind"] == "DriveRemoved":
        assert e["event"]["slot"] == 0 and e["event"]["drive"] == 1, e
        assert e["line"].startswith("D1 HDD2 was removed, "), e
        break
a = ask(s, f, {"op": "log", "id": 5})
assert any(l.startswith("D1 HDD2 was removed, ") for l in a["result"]["lines"]), a
assert any(" has started from " in l for l in a["result"]["lines"]), a
print("protocol ok")
PY

# The service's answers are the standalone program's for the same state.
same() {  # same(args...): through the service and standalone on after.json
  set +e
  "$ctl" "$@" --service "$sock" >"$work/svc.out" 2>"$work/svc.err"; local a=$?
  XDG_RUNTIME_DIR="$work/alone" "$ctl" "$@" --simulate "$work/after.json" >"$work/alone.out" 2>"$work/alone.err"; local b=$?
  set -e
  [ "$a" -eq "$b" ] || fail "$*: exit $a through the service, $b standalone: $(cat "$work/svc.err" "$work/alone.err")"
  cmp -s "$work/svc.out" "$work/alone.out" || fail "$*: $(diff "$work/svc.out" "$work/alone.out")"
}
mkdir "$work/alone"
same list
same status
same status --json
same check
same check --expect 2
# No image: a folder, a device.
same upgrade "$work" --yes
same upgrade /dev/zero --yes

# Changes are not served yet, and say so.
set +e; "$ctl" check --status-file "$work/none.json" --service "$sock" >"$work/err.txt" 2>&1; rc=$?; set -e
[ "$rc" -eq 3 ] && grep -q "UNKNOWN - check reads the monitor service or --status-file, not both" "$work/err.txt" ||
  fail "check with both: $rc $(cat "$work/err.txt")"

# Without --service, raidctl asks the package's service at its own address
# when it answers there (a private /run in a mount namespace of our own).
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && unshare -m true 2>/dev/null; then
  unshare -m bash -c '
    set -e
    mount --make-rprivate /
    mount -t tmpfs tmpfs /run
    mkdir -p /run/raidgui
    XDG_RUNTIME_DIR="$3/other" "$1" --simulate "$3/after.json" --log-dir "$3/other" \
      --listen /run/raidgui/raidmon.sock --duration 60 >/dev/null 2>"$3/inner.err" &
    pid=$!
    for _ in $(seq 100); do [ -S /run/raidgui/raidmon.sock ] && break; sleep 0.1; done
    sleep 2  # the first poll
    "$2" status >"$3/default.out" 2>&1 || true
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" || true
  ' _ "$mon" "$ctl" "$work" || fail "the namespace run failed"
  XDG_RUNTIME_DIR="$work/alone" "$ctl" status --simulate "$work/after.json" >"$work/alone.out" 2>&1 || true
  cmp -s "$work/default.out" "$work/alone.out" ||
    fail "the default service address: $(diff "$work/default.out" "$work/alone.out"; cat "$work/inner.err")"
fi

kill -TERM "$mon_pid"; wait "$mon_pid" || true; mon_pid=""
[ ! -e "$sock" ] || fail "the socket stayed after the end"
set +e; "$ctl" status --service "$sock" >/dev/null 2>"$work/err.txt"; rc=$?; set -e
[ "$rc" -eq 1 ] && grep -q "no answer from the monitor service at" "$work/err.txt" || fail "gone: $rc $(cat "$work/err.txt")"
echo "e2e_listen: ok"
