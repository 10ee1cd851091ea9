#!/usr/bin/env bash
# Boots Debian's user-mode-linux kernel as a process and runs one script
# inside it, on this machine's own / seen read-only through hostfs with the
# package cache of scripts/realkernel/fetch.sh (udev, kmod, busybox) laid over
# it and a writable results folder at the same path as here. Exits with the
# script's status.
#
#   uml-run.sh [--timeout SECONDS] RESULTS_DIR SCRIPT [ARG...]
#
# Inside the guest the SCSI target modules (configfs, target_core_mod,
# target_core_user, tcm_loop, uio) and sd_mod and sg are loaded, configfs is
# mounted and udevd runs (no coldplug) before SCRIPT starts as root. The
# guest's console goes to stdout.
# Exits 77 when this machine cannot run it (no user-mode-linux, no cache, not
# root), 124 when the time limit (default 120 s) ends the guest.
set -euo pipefail

limit=120
if [ "${1:-}" = --timeout ]; then
  limit="$2"
  shift 2
fi
if [ $# -lt 2 ]; then
  echo "usage: uml-run.sh [--timeout SECONDS] RESULTS_DIR SCRIPT [ARG...]" >&2
  exit 2
fi
results="$(realpath "$1")"
script="$(realpath "$2")"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"
cache="${RAID_REALKERNEL_CACHE:-/var/cache/raidgui-realkernel}"

if ! command -v linux.uml >/dev/null; then
  echo "realkernel: SKIP: user-mode-linux is not installed (RAID_REALKERNEL=1 bash scripts/install-deps.sh)"
  exit 77
fi
if [ ! -f "$cache/.complete" ]; then
  echo "realkernel: SKIP: no package cache in $cache (bash scripts/realkernel/fetch.sh)"
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  # The guest's root is this machine's root through hostfs: files the guest
  # writes as its root are written as the user who runs it.
  echo "realkernel: SKIP: the user-mode-linux guest must run as root"
  exit 77
fi
if [ ! -d "$results" ]; then
  echo "realkernel: results folder $results does not exist" >&2
  exit 2
fi

quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
{
  printf 'exec /bin/bash %s %s' "$(quote "$here/uml-stage.sh")" "$(quote "$script")"
  for a in "$@"; do printf ' %s' "$(quote "$a")"; done
  printf '\n'
} >"$results/.job"
rm -f "$results/.status"

# The kernel keeps its memory in a file under TMPDIR; a private folder for it.
umltmp="$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)"
rc=0
TMPDIR="$umltmp" timeout -k 5 "$limit" nice -n 5 linux.uml mem=512M \
  rootfstype=hostfs rootflags=/ ro init="$here/uml-init.sh" \
  raid.results="$results" raid.cache="$cache/root" con=null con0=null,fd:1 quiet loglevel=3 \
  </dev/null || rc=$?
rm -rf "$umltmp"
rm -f "$results/.job"
if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
  echo "realkernel: the guest did not power off within $limit s; it was ended" >&2
  exit 124
fi
if [ ! -f "$results/.status" ]; then
  echo "realkernel: the guest powered off without a status (exit $rc)" >&2
  exit 1
fi
status="$(cat "$results/.status")"
rm -f "$results/.status"
exit "$status"
