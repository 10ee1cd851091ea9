#!/usr/bin/env bash
# End-to-end checks of raidctl on the simulated enclosure:
#   commands  list and status of four transports, an upgrade with its exact
#             request counts, refused files and a failing write;
#   instance  while raidmon holds the instance lock raidctl says so and
#             ends with code 3;
#   setup     schedule, scan and initialize: their command sectors, texts
#             and exit codes, a failing initialisation step and wrong use;
#   signals   two signals during one blocked request stop an upgrade, and
#             Ctrl-C at its question ends with 130.
set -euo pipefail
ctl="$1"; mon="$2"; src="$3"; what="$4"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "$*"; exit 1; }

# An image of 0xFF bytes with its two marks.
image="$work/fw.bin"
head -c 524288 /dev/zero | tr '\0' '\377' >"$image"
printf 'FIPS' | dd of="$image" conv=notrunc status=none
printf '\240' | dd of="$image" bs=1 seek=491521 conv=notrunc status=none

case "$what" in
  commands)
    "$ctl" list --simulate "$src/scenarios/four-transports.json" >"$work/list.txt"
    grep -q "^0 .*PD0 .*read58 .*Block enclosure" "$work/list.txt" || fail "list: $(cat "$work/list.txt")"
    grep -q "^2 .*PD3 .*vendor1" "$work/list.txt" || fail "list: $(cat "$work/list.txt")"
    "$ctl" status --json --simulate "$src/scenarios/rebuilding.json" >"$work/status.json"
    grep -q '"kind": "rebuild"' "$work/status.json" || fail "status: $(cat "$work/status.json")"
    # Output or a trace that cannot be written all (a full disk) fails the
    # run, saying so: no script takes a cut document for a whole one.
    "$ctl" status --json --simulate >/dev/full 2>"$work/err" && fail "status to a full disk ended with 0"
    grep -q "^raidctl: cannot write the output" "$work/err" || fail "status to a full disk: $(cat "$work/err")"
    "$ctl" status --simulate --trace /dev/full >/dev/null 2>"$work/err" && fail "a trace to a full disk ended with 0"
    grep -q "^raidctl: the trace file /dev/full could not be written" "$work/err" || fail "trace: $(cat "$work/err")"
    "$ctl" status --simulate >"$work/status.txt"
    grep -q "HDD2: *present, ST1000DM003-1SB102, serial Z1D2X3C4, 931 GB" "$work/status.txt" || fail "$(cat "$work/status.txt")"
    # The system information block, whole; a value this machine lacks is empty, not an error.
    "$ctl" system-info >"$work/info.txt" || fail "system-info failed"
    [ "$(sed -n '1p;5p' "$work/info.txt" | tr -d '=')" = "$(printf ' [System Information] \n')" ] || fail "$(cat "$work/info.txt")"
    grep -q "^MotherBoard : .* - " "$work/info.txt" && grep -q "^System Name : " "$work/info.txt" &&
      grep -q "^IP Address  : " "$work/info.txt" || fail "system-info: $(cat "$work/info.txt")"
    set +e; "$ctl" system-info extra >/dev/null 2>&1; rc=$?; set -e
    [ "$rc" -eq 2 ] || fail "system-info with an argument: $rc"

    # A whole upgrade: 128 erases, 2,048 pages, 1,024 reads, update mode
    # entered once and left once, exit code 0.
    "$ctl" upgrade "$image" --simulate --yes --trace "$work/trace.txt" >"$work/up.txt" </dev/null
    grep -q "raidctl: Chksum:07F7FCD7" "$work/up.txt" || fail "$(cat "$work/up.txt")"
    grep -q "raidctl: SPI Verify OK" "$work/up.txt" || fail "$(cat "$work/up.txt")"
    [ "$(grep -c ' CMD 33 58 01 20 ' "$work/trace.txt")" -eq 128 ] || fail "erase count"
    [ "$(grep -c ' CMD 33 58 02 02 ' "$work/trace.txt")" -eq 2048 ] || fail "program count"
    [ "$(grep -c ' CMD 33 58 00 03 ' "$work/trace.txt")" -eq 1024 ] || fail "read count"
    [ "$(grep -c ' CMD 33 58 10 01 ' "$work/trace.txt")" -eq 1 ] || fail "0x11 count"
    tail -1 "$work/trace.txt" | grep -q " CMD 33 58 10 00 " || fail "0x10 is not the last request"

    # Without --yes and without a terminal it refuses before anything.
    set +e
    "$ctl" upgrade "$image" --simulate </dev/null >"$work/noyes.txt" 2>&1; rc=$?
    [ "$rc" -eq 2 ] || fail "no --yes: code $rc"
    # A short file and a folder are refused with their messages.
    head -c 1000 "$image" >"$work/short.bin"
    "$ctl" upgrade "$work/short.bin" --simulate --yes >"$work/short.txt" 2>&1; rc=$?
    [ "$rc" -eq 1 ] && grep -q "too short: 1000 bytes" "$work/short.txt" || fail "short: $rc $(cat "$work/short.txt")"
    "$ctl" upgrade "$work" --simulate --yes >"$work/dir.txt" 2>&1; rc=$?
    [ "$rc" -eq 1 ] && grep -q "Fail to open firmware file" "$work/dir.txt" || fail "folder: $rc"
    # A program request failing: the fixed texts and code 1, update mode left.
    cat >"$work/fault.json" <<JSON
{"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}],
 "faults":[{"kind":"write10","mode":"fail","after":1000,"count":1}]}
JSON
    "$ctl" upgrade "$image" --simulate "$work/fault.json" --yes --trace "$work/fault.trace" >"$work/fault.txt" 2>&1; rc=$?
    set -e
    [ "$rc" -eq 1 ] || fail "fault: code $rc"
    grep -q "raidctl: Message: SPI Program Fail." "$work/fault.txt" || fail "$(cat "$work/fault.txt")"
    tail -1 "$work/fault.trace" | grep -q " CMD 33 58 10 00 " || fail "0x10 not sent after the failure"
    ;;
  instance)
    "$mon" --simulate --log-dir "$work/logs" >"$work/mon.out" 2>&1 &
    mon_pid=$!
    for _ in $(seq 100); do [ -s "$work/mon.out" ] && break; sleep 0.1; done
    set +e
    "$ctl" list --simulate >"$work/ctl.out" 2>&1; rc=$?
    set -e
    kill -TERM "$mon_pid"; wait "$mon_pid" || true
    [ "$rc" -eq 3 ] || fail "raidctl beside raidmon ended with $rc"
    grep -q "raidgui or raidmon is running" "$work/ctl.out" || fail "$(cat "$work/ctl.out")"
    ;;
  setup)
    "$ctl" schedule on --period 30 --simulate --trace "$work/sched.trace" >"$work/sched.txt"
    grep -qx "Backup period: 30 min" "$work/sched.txt" || fail "schedule on: $(cat "$work/sched.txt")"
    grep -q " CMD 33 58 20 00 00 01 1E 00 .* sum ok$" "$work/sched.trace" || fail "schedule on: $(grep CMD "$work/sched.trace")"
    "$ctl" schedule off --simulate --trace "$work/off.trace" >"$work/off.txt"
    grep -qx "Schedule Backup Disable" "$work/off.txt" || fail "schedule off: $(cat "$work/off.txt")"
    grep -q " CMD 33 58 20 00 00 00 00 00 " "$work/off.trace" || fail "schedule off: $(grep CMD "$work/off.trace")"

    "$ctl" scan start --drive 2 --simulate --trace "$work/scan.trace" >"$work/scan.txt"
    grep -q "HDD2 scan requested: sectors 0 to 1953525167" "$work/scan.txt" || fail "scan: $(cat "$work/scan.txt")"
    grep -q " CMD 33 58 24 00 01 00 00 00 00 00 00 00 00 AF 6D 70 74 00 00 sum ok$" "$work/scan.trace" ||
      fail "scan start: $(grep CMD "$work/scan.trace")"
    "$ctl" scan stop --drive 1 --simulate --trace "$work/stop.trace" >/dev/null
    grep -q " CMD 33 58 24 01 00 " "$work/stop.trace" || fail "scan stop: $(grep CMD "$work/stop.trace")"

    # The eight steps: seven command sectors in order, then the completion.
    "$ctl" initialize --yes-destroy-data --simulate --trace "$work/init.trace" >"$work/init.txt"
    [ "$(grep ' CMD ' "$work/init.trace" | cut -d' ' -f7-8 | tr '\n' ' ')" = "02 00 01 00 04 00 04 10 04 20 04 30 03 01 " ] ||
      fail "init steps: $(grep CMD "$work/init.trace")"
    grep -q "raidctl: Create partition OK" "$work/init.txt" || fail "$(cat "$work/init.txt")"
    grep -q "raidctl: Auto Patition Message: Auto Patition 8/8 completed!" "$work/init.txt" || fail "$(cat "$work/init.txt")"

    set +e
    # Step 3 failing: its text in the final message, nothing sent after it.
    cat >"$work/initfault.json" <<JSON
{"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}],
 "faults":[{"kind":"write10","mode":"fail","after":2,"count":1}]}
JSON
    "$ctl" initialize --yes-destroy-data --simulate "$work/initfault.json" --trace "$work/if.trace" >"$work/if.txt" 2>&1; rc=$?
    [ "$rc" -eq 1 ] || fail "failing step: code $rc"
    grep -q "raidctl: Auto Patition Message: Clr LBA0 Fail." "$work/if.txt" || fail "$(cat "$work/if.txt")"
    [ "$(grep -c ' CMD 33 58 22 ' "$work/if.trace")" -eq 3 ] || fail "steps after the failure were sent"
    # Wrong use: code 2 and nothing sent.
    "$ctl" initialize --simulate --trace "$work/none.trace" >"$work/noconfirm.txt" 2>&1; rc=$?
    [ "$rc" -eq 2 ] && grep -q "yes-destroy-data" "$work/noconfirm.txt" || fail "no confirmation: $rc"
    [ ! -s "$work/none.trace" ] || fail "initialize without confirmation sent requests"
    "$ctl" schedule on --period 45 --simulate >/dev/null 2>&1; rc=$?
    [ "$rc" -eq 2 ] || fail "--period 45: code $rc"
    "$ctl" scan start --drive 3 --simulate >/dev/null 2>&1; rc=$?
    [ "$rc" -eq 2 ] || fail "--drive 3: code $rc"
    set -e
    ;;
  signals)
    # Two SIGTERMs that arrive while one request blocks (the request trace
    # goes to a pipe nobody reads for a while) are two: the upgrade stops.
    mkfifo "$work/trace.fifo"
    set +e
    "$ctl" upgrade "$image" --simulate --yes --trace "$work/trace.fifo" >"$work/up.out" 2>"$work/up.err" &
    up=$!
    # One reader is held open throughout, so the writer waits instead of
    # meeting a closed pipe.
    exec 3<"$work/trace.fifo"
    head -c 200000 <&3 >/dev/null
    sleep 0.5
    kill -TERM "$up"; sleep 0.2; kill -TERM "$up"; sleep 0.2
    cat <&3 >/dev/null
    exec 3<&-
    wait "$up"; rc=$?
    set -e
    [ "$rc" -eq 1 ] || fail "stopped upgrade ended with $rc: $(cat "$work/up.out" "$work/up.err")"
    grep -q "^raidctl: stopping at the next request$" "$work/up.err" || fail "no stop: $(cat "$work/up.err")"
    grep -q "The flash may be half written" "$work/up.out" || fail "stop not said: $(cat "$work/up.out")"
    ! grep -q "SPI Verify OK" "$work/up.out"
    # Ctrl-C at the question: interrupted before anything was written (130).
    python3 - "$ctl" "$image" <<'PY'
import os, pty, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], [sys.argv[1], "upgrade", sys.argv[2], "--simulate"])
import select, signal
seen = b""
def read_until(done, seconds):
    global seen
    deadline = time.time() + seconds
    while not done() and time.time() < deadline:
        if not select.select([fd], [], [], 0.2)[0]:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return
        if not chunk:
            return
        seen += chunk
read_until(lambda: b"[y/N]" in seen, 30)
os.write(fd, b"\x03")
read_until(lambda: False, 30)
deadline = time.time() + 10
ended, status = os.waitpid(pid, os.WNOHANG)
while ended == 0 and time.time() < deadline:
    time.sleep(0.1)
    ended, status = os.waitpid(pid, os.WNOHANG)
if ended == 0:
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    sys.exit("Ctrl-C at the question did not end raidctl:\n" + seen.decode(errors="replace"))
rc = os.waitstatus_to_exitcode(status)
text = seen.decode(errors="replace")
if rc != 130 or "interrupted: nothing was written" not in text:
    sys.exit(f"Ctrl-C at the question ended with {rc}:\n{text}")
PY
    ;;
  *) echo "unknown check $what"; exit 2 ;;
esac
echo "$what: ok"
