#!/bin/sh
# PID 1 of the user-mode-linux guest (uml-run.sh). The kernel mounted the
# machine's / read-only through hostfs; this lays the package cache (udev,
# kmod, busybox) and a tmpfs over it with overlayfs, makes the UML kernel's
# modules the guest's /lib/modules, mounts the results folder (raid.results=DIR)
# writable at its own path, makes that the root, runs DIR/.job, writes its exit
# status to DIR/.status and powers off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
grep -q ' /dev devtmpfs' /proc/mounts || mount -t devtmpfs dev /dev

results=
cache=
for arg in $(cat /proc/cmdline); do
  case "$arg" in
    raid.results=*) results="${arg#raid.results=}" ;;
    raid.cache=*) cache="${arg#raid.cache=}" ;;
  esac
done
kver="$(uname -r)"
bb="$cache/usr/bin/busybox"
fail() {
  echo "guest init: $*"
  "$bb" poweroff -f
  exit 1
}

# Every folder made here lives on a tmpfs over /tmp (the root is read-only).
mount -t tmpfs -o size=256m,mode=755 rw /tmp || fail "cannot mount a tmpfs"
mkdir -p /tmp/upper/usr/lib/modules /tmp/work /tmp/root /tmp/cache
# The cache through a hostfs mount of its own: overlayfs refuses a layer that
# lies inside another one.
mount -t hostfs -o "$cache" cache /tmp/cache || fail "cannot mount the package cache"
ln -s "/usr/lib/uml/modules/$kver" "/tmp/upper/usr/lib/modules/$kver"
"$cache/usr/sbin/insmod" "/usr/lib/uml/modules/$kver/kernel/fs/overlayfs/overlay.ko" 2>/dev/null ||
  "$bb" insmod "/usr/lib/uml/modules/$kver/kernel/fs/overlayfs/overlay.ko" || fail "cannot load overlayfs"
mount -t overlay -o "lowerdir=/tmp/cache:/,upperdir=/tmp/upper,workdir=/tmp/work" overlay /tmp/root ||
  fail "cannot lay the overlay"

r=/tmp/root
mount -t proc proc $r/proc
mount -t sysfs sys $r/sys
mount -t devtmpfs dev $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts devpts $r/dev/pts
mount -t tmpfs tmpfs $r/dev/shm
mount -t tmpfs -o mode=755 run $r/run
mount -t tmpfs -o mode=1777 tmp $r/tmp
mkdir -p "$r$results"
mount -t hostfs -o "$results" results "$r$results" || fail "cannot mount the results folder"

# Into that root for every process, this one included (pivot_root, not a
# chroot): systemd's tools (udevadm settle, monitor, control) see a chroot
# and refuse to act in one.
mkdir -p $r/run/oldroot
cd $r || fail "cannot enter the new root"
pivot_root . run/oldroot || fail "cannot make the overlay the root"
cd /
/bin/sh "$results/.job"
echo $? >"$results/.status"
sync
umount "$results" 2>/dev/null
"$bb" poweroff -f
