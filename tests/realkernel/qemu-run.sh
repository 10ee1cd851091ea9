#!/usr/bin/env bash
# Boots Debian's kernel (scripts/realkernel/fetch.sh's cache) under QEMU without
# KVM and runs one script inside it, on this machine's own / seen read-only
# through 9p under a tmpfs, with a writable results folder at the same path as
# here. Exits with the script's status.
#
#   qemu-run.sh [--timeout SECONDS] RESULTS_DIR SCRIPT [ARG...]
#   qemu-run.sh --check      only whether this machine can run it (0 or 77)
#
# Inside the guest the USB gadget and mass-storage modules are loaded (two
# dummy_hcd UDCs), configfs is mounted and udevd runs (no coldplug) before
# SCRIPT starts as root. The guest's console goes to stdout.
# Exits 77 when this machine cannot run it (no QEMU, no cache), 124 when the
# time limit (default 300 s) ends QEMU.
set -euo pipefail

limit=300
check=0
if [ "${1:-}" = --check ]; then
  check=1
  set -- . true
fi
if [ "${1:-}" = --timeout ]; then
  limit="$2"
  shift 2
fi
if [ $# -lt 2 ]; then
  echo "usage: qemu-run.sh [--timeout SECONDS] RESULTS_DIR SCRIPT [ARG...]" >&2
  exit 2
fi
results="$(realpath "$1")"
shift
here="$(cd "$(dirname "$0")" && pwd)"
cache="${RAID_REALKERNEL_CACHE:-/var/cache/raidgui-realkernel}"

if ! command -v qemu-system-x86_64 >/dev/null; then
  echo "realkernel: SKIP: qemu-system-x86_64 is not installed (RAID_REALKERNEL=1 bash scripts/install-deps.sh)"
  exit 77
fi
if [ ! -f "$cache/.complete" ]; then
  echo "realkernel: SKIP: no kernel cache in $cache (bash scripts/realkernel/fetch.sh)"
  exit 77
fi
if [ "$check" = 1 ]; then
  exit 0
fi
if [ ! -d "$results" ]; then
  echo "realkernel: results folder $results does not exist" >&2
  exit 2
fi

# Quotes one word for the guest's shell.
quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
{
  printf 'exec /bin/bash %s' "$(quote "$here/guest-stage.sh")"
  for a in "$@"; do printf ' %s' "$(quote "$a")"; done
  printf '\n'
} >"$results/.job"
rm -f "$results/.status"

# The kernel's own console: errors only. -no-reboot makes the guest's final
# poweroff (or a panic) end QEMU.
rc=0
timeout -k 5 "$limit" nice -n 5 qemu-system-x86_64 \
  -accel tcg -cpu max -smp 2 -m 1024 -nographic -no-reboot -net none \
  -kernel "$cache/vmlinuz" -initrd "$cache/initrd.img" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 raid.results=$results" \
  -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev local,id=cache,path="$cache/root",security_model=none,readonly=on \
  -device virtio-9p-pci,fsdev=cache,mount_tag=cache \
  -fsdev local,id=results,path="$results",security_model=none \
  -device virtio-9p-pci,fsdev=results,mount_tag=results \
  </dev/null || rc=$?
rm -f "$results/.job"
if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
  echo "realkernel: the guest did not power off within $limit s; QEMU was ended" >&2
  exit 124
fi
if [ ! -f "$results/.status" ]; then
  echo "realkernel: the guest powered off without a status (QEMU exit $rc)" >&2
  exit 1
fi
status="$(cat "$results/.status")"
rm -f "$results/.status"
exit "$status"
