#!/usr/bin/env bash
# End-to-end checks of the headless monitor on the simulated enclosure:
#   replay    a removal, a rebuild, bad sectors, a day change and an unplug
#             give exactly the expected lines on stdout and in the day files;
#   keep      --keep-days removes only the day files older than its span,
#             at start and on each new day;
#   detect    the probe sequence of every transport, and re-detection;
#   instance  a second copy ends at once with code 0 and says nothing, and
#             SIGTERM ends the first cleanly with its log saved; the window
#             started beside the monitor, and the monitor beside the window,
#             say which program holds the enclosures; a run on the real
#             devices is not kept out by a simulated one; a lock that cannot
#             be had at all is said, with exit code 1;
#   folder    a second copy on the same log folder says so and ends with
#             code 1, the first loses nothing; SIGHUP ends it cleanly;
#   fallback  day files that can never be created: one start report, and at
#             exit every line is in the state folder, said, exit code 1;
#   console   the log folder and one status line per enclosure on stderr at
#             start, one per poll with --verbose; stdout stays the log;
#   pace      program time keeps the scenario's speed on the real clock, and
#             --duration 0 ends after the start.
set -euo pipefail
bin="$1"; src="$2"; what="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
data="$src/tests/data/removal-rebuild-badsectors"
case "$what" in
  replay)
    # Under a mask that lets everyone write, the log folders and day files
    # the program makes are still writable by their owner alone.
    (umask 000 && exec "$bin" --simulate "$src/scenarios/removal-rebuild-badsectors.json" --duration 150 \
      --log-dir "$work/new/logs" >"$work/stdout.txt" 2>"$work/stderr.txt")
    diff -u "$data/stdout.txt" "$work/stdout.txt"
    cmp "$data/100503.log" "$work/new/logs/100503.log"
    cmp "$data/100504.log" "$work/new/logs/100504.log"
    modes=$(stat -c %a "$work/new" "$work/new/logs" "$work/new/logs/"*.log | sort -u | tr '\n' ' ')
    [ "$modes" = "644 755 " ] || { echo "log folder and day file modes: $modes" >&2; exit 1; }
    grep -q "No Drive found!" "$work/stderr.txt"
    ;;
  keep)
    # --keep-days 31 from 2010-05-03 on, past midnight: the day files more
    # than 31 days back go at start and on the new day; other names, a
    # link named like a day file and its target stay.
    mkdir -p "$work/logs"
    for f in 100401.log 100402.log 100403.log 100101.log.old1 100101.txt unsent-mail.conf "$work/outside.log"; do
      printf 'x\r\n' >"$work/logs/${f##*/}"
    done
    mv "$work/logs/outside.log" "$work/outside.log"
    ln -s "$work/outside.log" "$work/logs/100301.log"
    "$bin" --simulate "$src/scenarios/removal-rebuild-badsectors.json" --duration 150 --keep-days 31 \
      --log-dir "$work/logs" >/dev/null 2>"$work/stderr.txt"
    ls -A "$work/logs" | grep -v '^\.' >"$work/left.txt"
    printf '%s\n' 100101.log.old1 100101.txt 100301.log 100403.log 100503.log 100504.log unsent-mail.conf |
      diff -u - "$work/left.txt"
    [ -f "$work/outside.log" ] || { echo "the link's target was removed"; exit 1; }
    [ "$(grep -c "removed 1 day log file dated more than 31 days back" "$work/stderr.txt")" -eq 2 ] \
      || { cat "$work/stderr.txt"; exit 1; }
    # A scenario whose clock stands years ahead judges by the machine's own
    # date: the machine's recent day file stays, an old one goes.
    recent="$(date -d '2 days ago' +%y%m%d).log" old="$(date -d '40 days ago' +%y%m%d).log"
    mkdir "$work/real" && printf 'x\r\n' >"$work/real/$recent" && printf 'x\r\n' >"$work/real/$old"
    echo '{"clock": {"start": "2099-01-01 09:00:00"}, "enclosures": []}' >"$work/future.json"
    "$bin" --simulate "$work/future.json" --duration 0 --keep-days 31 --log-dir "$work/real" >/dev/null 2>&1
    [ -f "$work/real/$recent" ] && [ ! -e "$work/real/$old" ] || { ls "$work/real"; exit 1; }
    ;;
  detect)
    # Four enclosures, one per transport, and an ordinary disk: each gets
    # exactly its probe sequence; the unplugged one is dropped after the
    # countdown and the others are detected again.
    "$bin" --simulate "$src/scenarios/four-transports.json" --duration 24 --trace "$work/trace.txt" \
      --log-dir "$work/logs" >"$work/stdout.txt" 2>&1
    diff -u "$src/tests/data/four-transports.trace" "$work/trace.txt"
    grep -q "^D1 Device was removed\." "$work/stdout.txt"
    ;;
  instance)
    "$bin" --simulate --log-dir "$work/first" >"$work/first.out" 2>&1 &
    first=$!
    # Running once it has logged (its stderr lines come first).
    for _ in $(seq 100); do grep -qv '^raidmon: ' "$work/first.out" && break; sleep 0.1; done
    grep -qv '^raidmon: ' "$work/first.out" || { echo "first copy logged nothing"; exit 1; }
    set +e
    timeout 10 "$bin" --simulate --log-dir "$work/second" >"$work/second.out" 2>&1
    rc=$?
    set -e
    [ "$rc" -eq 0 ] || { echo "second copy ended with $rc"; exit 1; }
    [ ! -s "$work/second.out" ] || { echo "second copy spoke:"; cat "$work/second.out"; exit 1; }
    [ ! -e "$work/second" ] || { echo "second copy created its log folder"; exit 1; }
    # The window started while the monitor runs says why it does not open
    # (then waits in its box, which nobody answers here).
    gui="$(dirname "$bin")/raidgui"
    if [ -x "$gui" ]; then
      set +e
      QT_QPA_PLATFORM=offscreen timeout 5 "$gui" --simulate --log-dir "$work/gui" >"$work/gui.out" 2>&1
      set -e
      grep -q "^raidgui: The monitor (raidmon) is running and watches the enclosures" "$work/gui.out" \
        || { echo "the window did not say the monitor runs:"; cat "$work/gui.out"; exit 1; }
      [ ! -e "$work/gui" ] || { echo "the window created its log folder"; exit 1; }
    fi
    # A run on the real devices is not kept out by a simulated one (nor the
    # reverse): it starts and says where it logs.
    timeout 10 "$bin" --duration 0 --log-dir "$work/real" >/dev/null 2>"$work/real.err" || true
    grep -q "^raidmon: day log folder: $work/real$" "$work/real.err" \
      || { echo "the real run did not start beside the simulated one:"; cat "$work/real.err"; exit 1; }
    # The simulated run said that it leaves the stored mail settings alone.
    grep -q "^raidmon: simulated run: the stored mail settings are not used" "$work/first.out"
    kill -TERM "$first"
    wait "$first"
    ls "$work/first"/*.log >/dev/null
    # And the monitor started while the window runs says so, and ends.
    if [ -x "$gui" ]; then
      QT_QPA_PLATFORM=offscreen "$gui" --simulate --log-dir "$work/gui2" >"$work/gui2.out" 2>&1 &
      window=$!
      for _ in $(seq 100); do [ -e "$work/gui2" ] && break; sleep 0.1; done
      sleep 0.5
      set +e
      timeout 10 "$bin" --simulate --log-dir "$work/third" >"$work/third.out" 2>&1
      rc=$?
      set -e
      kill -TERM "$window" 2>/dev/null || true
      wait "$window" 2>/dev/null || true
      [ "$rc" -eq 0 ] || { echo "the monitor ended with $rc beside the window"; exit 1; }
      grep -q "^raidmon: the window (raidgui) is running and watches the enclosures; raidmon ends$" "$work/third.out" \
        || { echo "the monitor did not say the window runs:"; cat "$work/third.out"; exit 1; }
    fi
    ;;
  folder)
    mkdir -p "$work/a" "$work/b"
    XDG_RUNTIME_DIR="$work/a" "$bin" --simulate --log-dir "$work/logs" >"$work/first.out" 2>&1 &
    first=$!
    for _ in $(seq 100); do grep -qv '^raidmon: ' "$work/first.out" && break; sleep 0.1; done
    set +e
    XDG_RUNTIME_DIR="$work/b" timeout 10 "$bin" --simulate --log-dir "$work/logs" >"$work/second.out" 2>"$work/second.err"
    rc=$?
    set -e
    [ "$rc" -eq 1 ] || { echo "second copy on the same folder ended with $rc"; exit 1; }
    grep -q "another copy is writing its day log in $work/logs" "$work/second.err"
    [ ! -s "$work/second.out" ] || { echo "second copy logged:"; cat "$work/second.out"; exit 1; }
    # SIGHUP saves and ends like SIGTERM: every printed line is in the file.
    kill -HUP "$first"
    set +e
    wait "$first"
    rc=$?
    set -e
    [ "$rc" -eq 0 ] || { echo "SIGHUP ended the monitor with $rc"; exit 1; }
    tr -d '\r' <"$work"/logs/*.log >"$work/file.txt"
    grep -v '^raidmon: ' "$work/first.out" >"$work/printed.txt"
    missing=$(grep -vxFf "$work/file.txt" "$work/printed.txt" || true)
    [ -z "$missing" ] || { echo "printed but not saved: $missing"; exit 1; }
    # A runtime folder that is not there: said, exit code 1.
    set +e
    XDG_RUNTIME_DIR="$work/missing" timeout 10 "$bin" --simulate --log-dir "$work/logs2" --duration 1 \
      >/dev/null 2>"$work/lock.err"
    rc=$?
    set -e
    [ "$rc" -eq 1 ] || { echo "a lock that cannot be had ended with $rc"; exit 1; }
    grep -q "cannot create the lock file $work/missing/QV_GUI-simulated.lock" "$work/lock.err"
    ;;
  fallback)
    mkdir -p "$work/logs/100503.log" "$work/logs/100504.log"
    set +e
    XDG_STATE_HOME="$work/state" "$bin" --simulate "$src/scenarios/removal-rebuild-badsectors.json" --duration 150 \
      --log-dir "$work/logs" >"$work/stdout.txt" 2>"$work/stderr.txt"
    rc=$?
    set -e
    [ "$rc" -eq 1 ] || { echo "unsaved lines at exit ended with $rc"; exit 1; }
    n=$(wc -l <"$work/stdout.txt")
    grep -q "raidmon: $n log lines could not be saved to $work/logs; they are in $work/state/raidgui/100503.log.unsaved-1, $work/state/raidgui/100504.log.unsaved-1" "$work/stderr.txt" \
      || { cat "$work/stderr.txt"; exit 1; }
    cat "$work/state/raidgui/100503.log.unsaved-1" "$work/state/raidgui/100504.log.unsaved-1" | tr -d '\r' >"$work/kept.txt"
    diff -u "$work/stdout.txt" "$work/kept.txt"
    # The day went on: one start report per day, not one per poll.
    [ "$(grep -c '^Device1 information :' "$work/stdout.txt")" -le 3 ]
    ;;
  console)
    mkdir -p "$work/here"
    # The rebuilding enclosure, a hundred times as fast.
    sed 's/"speed": 1}/"speed": 100}/' "$src/scenarios/rebuilding.json" >"$work/fast.json"
    grep -q '"speed": 100' "$work/fast.json"
    (cd "$work/here" && "$bin" --simulate ../fast.json --duration 20 --log-dir logs \
      >"$work/stdout.txt" 2>"$work/stderr.txt")
    grep -qx "raidmon: day log folder: $work/here/logs" "$work/stderr.txt" || { cat "$work/stderr.txt"; exit 1; }
    [ "$(grep -c '^raidmon: Device1 (PD0): Mirroring(RAID1), 931 GB, rebuild of HDD2 ' "$work/stderr.txt")" -eq 1 ] \
      || { cat "$work/stderr.txt"; exit 1; }
    ! grep -q '^raidmon: ' "$work/stdout.txt"
    tr -d '\r' <"$work/here/logs/100503.log" | diff - "$work/stdout.txt"
    "$bin" --simulate "$work/fast.json" --duration 20 --verbose --log-dir "$work/v" \
      >/dev/null 2>"$work/verbose.txt"
    # Polls every 4 s from the first one: five in 20 s.
    [ "$(grep -c '^raidmon: Device1 (PD0): ' "$work/verbose.txt")" -ge 4 ] || { cat "$work/verbose.txt"; exit 1; }
    grep -q "rebuild of HDD2 44%" "$work/verbose.txt"
    # Output that cannot be written (a full disk) is said and fails the run.
    set +e
    "$bin" --simulate --duration 5 --log-dir "$work/full" >/dev/full 2>"$work/full.txt"; rc=$?
    set -e
    [ "$rc" -eq 1 ] && grep -q "^raidmon: cannot write the output" "$work/full.txt" || { cat "$work/full.txt"; exit 1; }
    ;;
  pace)
    # Program time runs at the scenario's speed on the real clock: 12 s of
    # program time take 12 s of wall time, and the polls with --verbose come
    # 4 s apart on the wall (each line stamped as it arrives). Within 2 %.
    start=$EPOCHREALTIME
    "$bin" --simulate --duration 12 --verbose --log-dir "$work/pace" 2>&1 >/dev/null \
      | while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done >"$work/stamped.txt"
    end=$EPOCHREALTIME
    grep ' raidmon: Device1 ' "$work/stamped.txt" | awk -v s="$start" -v e="$end" '
      { t[n++] = $1 }
      END {
        wall = e - s
        if (wall < 11.76 || wall > 12.3) { printf "12 s of program time took %.2f s\n", wall; exit 1 }
        if (n < 3) { print "fewer than three polls"; exit 1 }
        gap = (t[n-1] - t[0]) / (n - 1)
        if (gap < 3.92 || gap > 4.08) { printf "polls %.2f s apart instead of 4\n", gap; exit 1 }
      }' || { cat "$work/stamped.txt"; exit 1; }
    # --duration 0 runs the start and ends.
    timeout 5 "$bin" --simulate --duration 0 --log-dir "$work/zero" >/dev/null 2>&1 \
      || { echo "--duration 0 did not end at once"; exit 1; }
    ;;
  *) echo "unknown check $what"; exit 2 ;;
esac
echo "$what: ok"
