#!/usr/bin/env bash
# End-to-end checks of the headless monitor on the simulated enclosure:
#   replay    a removal, a rebuild, bad sectors, a day change and an unplug
#             give exactly the expected lines on stdout and in the day files;
#   detect    the probe sequence of every transport, and re-detection;
#   instance  a second copy ends at once with code 0 and says nothing, and
#             SIGTERM ends the first cleanly with its log saved.
set -euo pipefail
bin="$1"; src="$2"; what="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
data="$src/tests/data/removal-rebuild-badsectors"
case "$what" in
  replay)
    "$bin" --simulate "$src/scenarios/removal-rebuild-badsectors.json" --duration 150 \
      --log-dir "$work/logs" >"$work/stdout.txt" 2>"$work/stderr.txt"
    diff -u "$data/stdout.txt" "$work/stdout.txt"
    cmp "$data/100503.log" "$work/logs/100503.log"
    cmp "$data/100504.log" "$work/logs/100504.log"
    grep -q "No Drive found!" "$work/stderr.txt"
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
    for _ in $(seq 100); do [ -s "$work/first.out" ] && break; sleep 0.1; done
    [ -s "$work/first.out" ] || { echo "first copy printed nothing"; exit 1; }
    set +e
    timeout 10 "$bin" --simulate --log-dir "$work/second" >"$work/second.out" 2>&1
    rc=$?
    set -e
    [ "$rc" -eq 0 ] || { echo "second copy ended with $rc"; exit 1; }
    [ ! -s "$work/second.out" ] || { echo "second copy spoke:"; cat "$work/second.out"; exit 1; }
    [ ! -e "$work/second" ] || { echo "second copy created its log folder"; exit 1; }
    kill -TERM "$first"
    wait "$first"
    ls "$work/first"/*.log >/dev/null
    ;;
  *) echo "unknown check $what"; exit 2 ;;
esac
echo "$what: ok"
