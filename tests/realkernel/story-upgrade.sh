#!/bin/bash
# Runs inside the user-mode-linux guest: serves SCENARIO's disks with
# raid-tcmu-responder and writes IMAGE to the enclosure in slot 0 with
# raidctl on the real disks; leaves raidctl's output, the responder's log
# and the upgrade's wall time in OUT.
#
#   story-upgrade.sh RESPONDER RAIDCTL SCENARIO IMAGE OUT [RAIDMON]
#
# With RAIDMON: then the same image through the monitor service on its
# device thread, asked by a client that stops it on its second progress
# message, and by one that goes away; OUT/served/client.txt says what the
# clients saw, the day log (OUT/served/logs) how the upgrades ended.
set -u
responder="$1" raidctl="$2" scenario="$3" image="$4" out="$5" raidmon="${6:-}"
mkdir -p "$out"
. "$(dirname "$0")/responder-start.sh"
start_responder "$out" "$responder" --scenario "$scenario" --log "$out/responder.log"
pid=$responder_pid
t0=$(date +%s.%N)
"$raidctl" upgrade "$image" --yes >"$out/stdout.txt" 2>"$out/stderr.txt"
rc=$?
t1=$(date +%s.%N)
echo "the upgrade took $(echo "$t1 - $t0" | bc) s" >"$out/timing.txt"
if [ -n "$raidmon" ] && [ "$rc" -eq 0 ]; then
  mkdir -p "$out/served/logs"
  sock="$out/served/raidmon.sock"
  "$raidmon" --listen "$sock" --log-dir "$out/served/logs" >"$out/served/mon.out" 2>"$out/served/mon.err" &
  mon=$!
  /usr/bin/python3 - "$sock" "$image" >"$out/served/client.txt" 2>&1 <<'PY'
import base64, json, socket, sys, time
sock, image = sys.argv[1], sys.argv[2]
for _ in range(300):
    try:
        s = socket.socket(socket.AF_UNIX); s.connect(sock); break
    except OSError:
        time.sleep(0.1)
s.settimeout(120); f = s.makefile("r")
def send(o): s.sendall(json.dumps(o).encode() + b"\n")
def answer():
    return json.loads(f.readline())
send({"op": "hello", "id": 1, "protocol": 2, "client": "story"}); assert answer()["ok"]
for _ in range(300):
    send({"op": "status", "id": 2}); a = answer()
    encl = (a["result"]["document"] or {}).get("enclosures", [])
    if encl and "error" not in encl[0]:
        break
    time.sleep(0.2)
send({"op": "upgrade", "id": 7, "name": "fw.bin", "image": base64.b64encode(open(image, "rb").read()).decode()})
progress, stopping = [], None
while True:
    m = answer()
    if "progress" in m:
        progress.append(m["progress"])
        if len(progress) == 2:
            send({"op": "cancel", "id": 8, "request": 7})
    elif m["id"] == 8:
        stopping = m["result"]["stopping"]
    elif m["id"] == 7:
        print("progress:", json.dumps(progress))
        print("stopping:", stopping)
        print("answer:", json.dumps(m))
        break
# A client that goes away during its upgrade: the upgrade runs to its end.
c = socket.socket(socket.AF_UNIX); c.connect(sock); c.settimeout(120); g = c.makefile("r")
c.sendall(json.dumps({"op": "hello", "id": 1, "protocol": 2}).encode() + b"\n"); g.readline()
c.sendall(json.dumps({"op": "upgrade", "id": 9, "name": "fw.bin",
                      "image": base64.b64encode(open(image, "rb").read()).decode()}).encode() + b"\n")
while "progress" not in json.loads(g.readline()):
    pass
g.close(); c.close()
for _ in range(150):
    send({"op": "log", "id": 10})
    if any("its client had gone" in l for l in answer()["result"]["lines"]):
        print("gone: ended")
        break
    time.sleep(0.2)
PY
  kill -TERM "$mon"
  wait "$mon"
fi
kill "$pid"
wait "$pid"
exit "$rc"
