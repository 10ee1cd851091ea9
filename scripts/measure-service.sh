#!/usr/bin/env bash
# The monitor service's idle cost: raidmon --listen on the built-in
# simulated enclosure with 50 subscribed clients that say nothing, its CPU
# time over SECONDS (default 60) and its resident memory read from /proc.
# Goals: at most 0.2 % of a core and 16 MB; exit code 1 when missed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
mon=build/default/app/raidmon
[ -x "$mon" ] || { echo "measure-service: build first (cmake --build --preset default)" >&2; exit 1; }
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
XDG_RUNTIME_DIR="$work" "$mon" --simulate --log-dir "$work" --listen "$work/s.sock" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do [ -S "$work/s.sock" ] && break; sleep 0.1; done
python3 - "$work/s.sock" "$seconds" <<'PY' &
import json, socket, sys, time
clients = []
for _ in range(50):
    s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])
    s.sendall(b'{"op":"hello","protocol":1}\n{"op":"subscribe"}\n')
    clients.append(s)
time.sleep(float(sys.argv[2]) + 10)
PY
sleep 5
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
share=$(echo "scale=3; ($t1 - $t0) * 100 / $hz / $seconds" | bc)
echo "raidmon --listen with 50 subscribed clients: ${share} % of a core over ${seconds} s, ${rss} kB resident"
ok=$(echo "$share <= 0.2 && $rss <= 16384" | bc)
[ "$ok" -eq 1 ]
