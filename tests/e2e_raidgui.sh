#!/usr/bin/env bash
# raidgui started where it cannot open. Without a display it says so in one
# line (and what runs without one) and ends with exit code 1, instead of
# Qt aborting it. A scenario it cannot read is said on stderr, and the box
# that says it too stays until it is answered.
#   e2e_raidgui.sh RAIDGUI
set -euo pipefail
gui="$1"
tmp="$(mktemp -d)"
# A runtime folder of its own: the single-instance lock of another test's
# simulated run (ctest -j) must not end this one's programs.
export XDG_RUNTIME_DIR="$tmp"
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

no_display() {  # what: the case; the environment follows
  local what="$1" rc=0
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" "$gui" --simulate >"$tmp/out" 2>"$tmp/err" || rc=$?
  [ "$rc" -eq 1 ] || fail "$what: exit code $rc, not 1: $(cat "$tmp/err")"
  [ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "$what: not one line on stderr: $(cat "$tmp/err")"
  grep -q "^raidgui: no display was found (.*raidmon" "$tmp/err" || fail "$what: $(cat "$tmp/err")"
}
no_display "no DISPLAY"
# A display number without a server (no socket, no abstract socket).
n=900
while [ -e "/tmp/.X11-unix/X$n" ] || grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null; do n=$((n + 1)); done
no_display "DISPLAY=:$n without a server" DISPLAY=":$n"
grep -q "no X server answers at DISPLAY=:$n" "$tmp/err" || fail "DISPLAY=:$n: $(cat "$tmp/err")"

printf '{"enclosures": [' >"$tmp/malformed.json"
for scenario in "$tmp/missing.json" "$tmp/malformed.json"; do
  QT_QPA_PLATFORM=offscreen "$gui" --simulate "$scenario" >"$tmp/out" 2>"$tmp/err" &
  pid=$!
  for _ in $(seq 100); do
    grep -q "^raidgui: scenario: $scenario" "$tmp/err" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "^raidgui: scenario: $scenario: ." "$tmp/err" || fail "$scenario: the reason is not on stderr: $(cat "$tmp/err")"
  sleep 1
  kill -0 "$pid" 2>/dev/null || fail "$scenario: the box did not wait to be answered"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
done
echo "raidgui start: 4 passed, 0 failed"
