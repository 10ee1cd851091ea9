#!/usr/bin/env bash
# Measures what a running monitor costs while nothing happens: CPU time used
# over a stretch of wall time (from /proc/PID/stat) and resident memory
# (VmRSS and VmHWM from /proc/PID/status), for raidmon and for the window.
#
#   bash scripts/measure-idle.sh [SECONDS] [real | -- PROGRAM ARGUMENTS]
#
# Default: 60 s each on the built-in simulated enclosure (healthy, so idle
# after the start block); "real": on this machine's own disks (worker
# threads, udev); the window under Xvfb when it is installed (else the
# offscreen platform). Goals: at most 0.2 % of one core for either
# program, raidmon at most 8 MB resident, the window at most 40 MB.
# Exit code 1 when a goal is missed. Needs a built tree (build/default).
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
shift || true
extra=(--simulate)
if [ "${1:-}" = "real" ]; then
  extra=()
elif [ "${1:-}" = "--" ]; then
  shift
  extra=("$@")
fi
bin=build/default/app
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
tck=$(getconf CLK_TCK)
fail=0

# CPU ticks (user + system) of a process: fields 14 and 15 of /proc/PID/stat,
# counted after the parenthesised command name.
ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }

# measure NAME MAX_CPU_PERCENT MAX_RSS_KB COMMAND...
measure() {
  local name="$1" maxcpu="$2" maxkb="$3"
  shift 3
  "$@" >"$work/$name.out" 2>&1 &
  local pid=$!
  sleep 5  # start-up and the first detection are not idle time
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "$name: ended early:"
    cat "$work/$name.out"
    fail=1
    return
  fi
  local t0 t1 w0 w1
  t0=$(ticks "$pid")
  w0=$(date +%s.%N)
  sleep "$secs"
  t1=$(ticks "$pid")
  w1=$(date +%s.%N)
  local rss hwm
  rss=$(kb "$pid" VmRSS)
  hwm=$(kb "$pid" VmHWM)
  kill -TERM "$pid"
  wait "$pid" || true
  local cpu
  cpu=$(awk -v a="$t0" -v b="$t1" -v w0="$w0" -v w1="$w1" -v hz="$tck" \
    'BEGIN {printf "%.3f", (b - a) / hz / (w1 - w0) * 100}')
  local verdict=ok
  if awk -v c="$cpu" -v m="$maxcpu" 'BEGIN {exit !(c > m)}' || [ "$rss" -gt "$maxkb" ]; then
    verdict=MISSED
    fail=1
  fi
  printf '%-8s cpu %6s %% of a core over %s s (%d ticks)   rss %6.1f MB (peak %.1f MB)   %s\n' \
    "$name" "$cpu" "$secs" "$((t1 - t0))" "$(awk -v k="$rss" 'BEGIN {print k / 1024}')" \
    "$(awk -v k="$hwm" 'BEGIN {print k / 1024}')" "$verdict"
}

measure raidmon 0.2 8192 "$bin/raidmon" ${extra[@]+"${extra[@]}"} --log-dir "$work/logs-mon"

if command -v Xvfb >/dev/null; then
  Xvfb :97 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  export DISPLAY=:97 QT_QPA_PLATFORM=xcb
  shown="Xvfb"
else
  export QT_QPA_PLATFORM=offscreen
  shown="offscreen"
fi
measure raidgui 0.2 40960 "$bin/raidgui" ${extra[@]+"${extra[@]}"} --log-dir "$work/logs-gui"
echo "(window on $shown; goals: cpu <= 0.2 %, raidmon rss <= 8 MB, window rss <= 40 MB)"
exit "$fail"
