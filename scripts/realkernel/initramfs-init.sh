#!/bin/sh
# PID 1 of the test guest. Mounts the machine's / read-only over 9p (tag
# hostroot), lays the cache's packages (tag cache: a share of their own, as
# overlayfs refuses a layer inside another) and a tmpfs over it, mounts the
# writable results share (tag results) at raid.results=DIR, switches to that root, runs DIR/.job there, writes its
# exit status to DIR/.status and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

results=
for arg in $(cat /proc/cmdline); do
  case "$arg" in
    raid.results=*) results="${arg#raid.results=}" ;;
  esac
done

for m in $(cat /modules/order); do
  insmod "/modules/$m" 2>/dev/null
done

fail() {
  echo "guest init: $*"
  poweroff -f
}

mkdir -p /mnt/host /mnt/cache /mnt/rw /mnt/root /mnt/results
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /mnt/host ||
  fail "cannot mount the machine's / over 9p"
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose cache /mnt/cache ||
  fail "cannot mount the package cache"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 results /mnt/results ||
  fail "cannot mount the results share"
mount -t tmpfs -o size=256m,mode=755 rw /mnt/rw
mkdir -p /mnt/rw/upper /mnt/rw/work
mount -t overlay -o "lowerdir=/mnt/cache:/mnt/host,upperdir=/mnt/rw/upper,workdir=/mnt/rw/work" \
  overlay /mnt/root || fail "cannot lay the overlay"

r=/mnt/root
mount -t proc proc $r/proc
mount -t sysfs sys $r/sys
mount -t devtmpfs dev $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts devpts $r/dev/pts
mount -t tmpfs tmpfs $r/dev/shm
mount -t tmpfs -o mode=755 run $r/run
mount -t tmpfs -o mode=1777 tmp $r/tmp
mkdir -p "$r$results"
mount --bind /mnt/results "$r$results"

# The new root becomes the guest's / (not a chroot: udevadm and other
# systemd tools refuse some requests inside one), and busybox from the cache
# stays PID 1 to write the status and power off.
[ -x $r/usr/bin/busybox ] || fail "no busybox in the package cache"
exec switch_root $r /usr/bin/busybox sh -c \
  '/bin/sh "$1/.job"; echo $? >"$1/.status"; sync; /usr/bin/busybox poweroff -f' init "$results"
