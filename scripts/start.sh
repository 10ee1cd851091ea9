#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program on a simulated
# enclosure: the window when a display can be reached, else the headless
# monitor raidmon.
#
#   bash scripts/start.sh                 the demo: scenarios/demo.json (a drive pulled,
#                                         put back and rebuilt, a few bad sectors; ~2.5 min)
#   bash scripts/start.sh ARGUMENTS...    ARGUMENTS go to the program as they are, after
#                                         --simulate: a scenario file first (relative to the
#                                         folder you are in; else the demo), then options
#                                         such as --log-dir DIR or raidmon's --verbose
#
# The build needs the packages of scripts/install-deps.sh: installing them
# needs root once (sudo bash scripts/install-deps.sh); building and running
# work as yourself.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if ! bash "$root/scripts/install-deps.sh"; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "start: install the packages once as root:  sudo bash $root/scripts/install-deps.sh" >&2
    echo "start: then run this script again as yourself:  bash $root/scripts/start.sh" >&2
  fi
  exit 1
fi
# Built in the source tree; the program then runs from the folder the user
# is in, so relative file names in the arguments mean what they say.
(cd "$root" && cmake --preset default >/dev/null && cmake --build --preset default --target raidgui raidmon)
# Without a scenario file first, the demo runs (options still apply).
args=("$@")
if [ "${#args[@]}" -eq 0 ] || [ "${args[0]#--}" != "${args[0]}" ]; then
  args=("$root/scenarios/demo.json" "$@")
fi

# A display that can be reached: an X server answering on DISPLAY's socket
# (or its TCP port), or a Wayland compositor's socket.
display_reachable() {
  if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    local w="$WAYLAND_DISPLAY"
    [ "${w#/}" = "$w" ] && w="${XDG_RUNTIME_DIR:-/nonexistent}/$w"
    [ -S "$w" ] && return 0
  fi
  [ -n "${DISPLAY:-}" ] || return 1
  local host="${DISPLAY%%:*}" num="${DISPLAY#*:}"
  num="${num%%.*}"
  case "$num" in '' | *[!0-9]*) return 1 ;; esac
  if [ -z "$host" ] || [ "$host" = unix ]; then
    # Local servers listen on a socket in /tmp/.X11-unix (on Linux also an
    # abstract one of the same name).
    [ -S "/tmp/.X11-unix/X$num" ] && return 0
    grep -q "@/tmp/.X11-unix/X$num\$" /proc/net/unix 2>/dev/null && return 0
    return 1
  fi
  timeout 2 bash -c "exec 3<>/dev/tcp/$host/$((6000 + num))" 2>/dev/null
}

if display_reachable; then
  exec "$root/build/default/app/raidgui" --simulate "${args[@]}"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "start: no display can be reached here (DISPLAY=${DISPLAY:-} WAYLAND_DISPLAY=${WAYLAND_DISPLAY:-}), so the headless monitor raidmon runs instead (Ctrl+C ends it)"
else
  echo "start: no display here, so the headless monitor raidmon runs instead (Ctrl+C ends it)"
fi
exec "$root/build/default/app/raidmon" --simulate "${args[@]}"
