#!/usr/bin/env bash
# raidmon as a systemd service:
#   unit    packaging/raidmon.service passes systemd-analyze verify without
#           a single complaint, and systemd rates its exposure 2.5 or below
#           (skipped, code 77, where the tool is missing);
#   notify  raidmon tells the service manager READY=1 once it monitors and
#           STOPPING=1 when it ends, over $NOTIFY_SOCKET;
#   journal --journal without a journal here: the lines stay on stdout.
set -euo pipefail
mon="$1"; src="$2"; what="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "$*"; exit 1; }

case "$what" in
  unit)
    command -v systemd-analyze >/dev/null || { echo "no systemd-analyze: skipped"; exit 77; }
    # verify needs the program where ExecStart names it.
    sed "s#^ExecStart=/usr/bin/raidmon #ExecStart=$mon #" "$src/packaging/raidmon.service" >"$work/raidmon.service"
    grep -q "^ExecStart=$mon --journal --log-dir /var/log/raidgui --keep-days 365 --status-file /run/raidgui/status.json --metrics-file /var/lib/prometheus/node-exporter/raidgui.prom --listen /run/raidgui/raidmon.sock$" "$work/raidmon.service" || fail "ExecStart not found"
    # Its manual pages come with the package, not with the build.
    systemd-analyze verify --man=no "$work/raidmon.service" >"$work/verify.txt" 2>&1 || fail "verify: $(cat "$work/verify.txt")"
    if grep -q "raidmon.service" "$work/verify.txt"; then fail "verify complains: $(cat "$work/verify.txt")"; fi
    for key in Type=notify Restart=on-failure CapabilityBoundingSet=CAP_SYS_RAWIO ProtectSystem=strict \
        LogsDirectory=raidgui "DeviceAllow=block-sd r" PrivateTmp=yes RuntimeDirectory=raidgui \
        ProtectHome=yes ProtectProc=invisible; do
      grep -qx "$key" "$work/raidmon.service" || fail "the unit lacks $key"
    done
    # systemd's own rating of the sandbox stays at 2.5 or below.
    exposure=$(systemd-analyze security --offline=yes "$work/raidmon.service" 2>/dev/null |
      sed -n 's/.*Overall exposure level for raidmon.service: \([0-9.]*\).*/\1/p')
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e + 0 <= 2.5) }' || fail "exposure ${exposure:-unknown}, above 2.5"
    ;;
  notify)
    python3 - "$work/notify" "$work/got.txt" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
s.settimeout(30)
with open(sys.argv[2], "w") as out:
    while True:
        try:
            d = s.recv(4096).decode()
        except socket.timeout:
            break
        out.write(d.replace("\n", "|") + "\n"); out.flush()
        if "STOPPING=1" in d:
            break
PY
    listener=$!
    for _ in $(seq 100); do [ -S "$work/notify" ] && break; sleep 0.1; done
    NOTIFY_SOCKET="$work/notify" "$mon" --simulate --duration 2 --log-dir "$work/logs" >"$work/mon.out" 2>&1
    wait "$listener"
    [ "$(sed -n 1p "$work/got.txt" | cut -d'|' -f1)" = "READY=1" ] || fail "first datagram: $(cat "$work/got.txt")"
    grep -q "^READY=1|STATUS=Monitoring; day log folder $work/logs$" "$work/got.txt" || fail "$(cat "$work/got.txt")"
    [ "$(sed -n 2p "$work/got.txt")" = "STOPPING=1" ] || fail "second datagram: $(cat "$work/got.txt")"
    ;;
  journal)
    [ -S /run/systemd/journal/socket ] && { echo "a journal runs here: skipped"; exit 77; }
    "$mon" --simulate --duration 2 --journal --log-dir "$work/logs" >"$work/out.txt" 2>"$work/err.txt"
    grep -q "no system journal here" "$work/err.txt" || fail "stderr: $(cat "$work/err.txt")"
    grep -q "has started from" "$work/out.txt" || fail "stdout: $(cat "$work/out.txt")"
    ;;
esac
