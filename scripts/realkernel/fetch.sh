#!/usr/bin/env bash
# Fetches Debian 12's kernel (the versioned package behind linux-image-amd64),
# udev, kmod (depmod, modprobe) and busybox-static into one cache folder, without installing them, and
# builds a small initramfs there that mounts the machine's own / over 9p.
#
# Cache folder: $RAID_REALKERNEL_CACHE, default /var/cache/raidgui-realkernel.
#   root/          the packages' files in the merged-/usr layout, laid over
#                  the machine's / inside the guest (kernel modules, udev)
#   vmlinuz        the kernel
#   initrd.img     busybox + virtio, 9p and overlay modules + init
#   kernel-version the kernel's release (uname -r inside the guest)
#   .complete      written last; its presence makes a second run a no-op
#   initrd.sum     which init script the initramfs was built with
# Idempotent and safe to run concurrently (a lock file beside the folder).
# Needs root only when packages must be downloaded into a root-owned folder.
set -euo pipefail

cache="${RAID_REALKERNEL_CACHE:-/var/cache/raidgui-realkernel}"
here="$(cd "$(dirname "$0")" && pwd)"

# The initramfs is rebuilt whenever its init script changes.
init_sum="$(sha256sum "$here/initramfs-init.sh" | cut -d' ' -f1)"
ready() { [ -f "$cache/.complete" ] && [ "$(cat "$cache/initrd.sum" 2>/dev/null)" = "$init_sum" ]; }
if ready; then
  echo "realkernel fetch: cache ready in $cache (kernel $(cat "$cache/kernel-version"))"
  exit 0
fi

mkdir -p "$(dirname "$cache")"
exec 9>"$cache.lock"
flock 9
if ready; then
  exit 0
fi

# The initramfs: busybox, the modules that mount the machine's / (with the
# modules they depend on, in load order) and init.
build_initramfs() {
  local kver="$1" moddir="$cache/root/usr/lib/modules/$1" bb="$cache/root/usr/bin/busybox" p f m
  initdir="$(mktemp -d)"
  trap 'rm -rf "$initdir"' EXIT
  mkdir -p "$initdir"/{bin,dev,proc,sys,mnt,modules}
  cp "$bb" "$initdir/bin/busybox"
  ln -s busybox "$initdir/bin/sh"
  # Prints the module and its dependencies, dependencies first.
  declare -A seen=()
  deps_of() {
    local name="$1" line path dep
    line="$(grep -E "(^|/)$name\.ko(\.[a-z]+)?:" "$moddir/modules.dep" | head -n1 || true)"
    if [ -z "$line" ]; then
      # Built into this kernel.
      return 0
    fi
    path="${line%%:*}"
    [ -n "${seen[$path]:-}" ] && return 0
    seen[$path]=1
    for dep in ${line#*:}; do
      dep="$(basename "$dep")"
      deps_of "${dep%%.ko*}"
    done
    echo "$path"
  }
  local order=()
  for m in virtio_pci virtio_blk 9pnet_virtio 9p overlay; do
    while read -r p; do
      [ -n "$p" ] && order+=("$p")
    done < <(deps_of "$m")
  done
  : >"$initdir/modules/order"
  for p in "${order[@]}"; do
    f="$(basename "$p")"
    case "$f" in
      *.ko.xz) xz -dc "$moddir/$p" >"$initdir/modules/${f%.xz}"; f="${f%.xz}" ;;
      *.ko.zst) zstd -qdc "$moddir/$p" >"$initdir/modules/${f%.zst}"; f="${f%.zst}" ;;
      *) cp "$moddir/$p" "$initdir/modules/$f" ;;
    esac
    echo "$f" >>"$initdir/modules/order"
  done
  cp "$here/initramfs-init.sh" "$initdir/init"
  chmod 755 "$initdir/init"
  (cd "$initdir" && find . | "$bb" cpio -o -H newc 2>/dev/null | gzip -9) >"$cache/initrd.img"
  echo "$init_sum" >"$cache/initrd.sum"
}

if [ -f "$cache/.complete" ]; then
  build_initramfs "$(cat "$cache/kernel-version")"
  echo "realkernel fetch: initramfs rebuilt in $cache (its init changed)"
  exit 0
fi

echo "realkernel fetch: downloading the Debian kernel, udev and busybox-static into $cache (about 110 MB, once)"

# The versioned image package that linux-image-amd64 depends on.
kernel_pkg() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}
pkg="$(kernel_pkg)"
if [ -z "$pkg" ]; then
  apt-get update -qq
  pkg="$(kernel_pkg)"
fi
if [ -z "$pkg" ]; then
  echo "realkernel fetch: apt cannot resolve linux-image-amd64" >&2
  exit 1
fi
kver="${pkg#linux-image-}"

rm -rf "$cache"
mkdir -p "$cache/debs" "$cache/root"
# udev's libraries are usually present (systemd needs the same ones); those
# that are not are fetched too and laid over the guest's / with udev.
pkgs=("$pkg" udev busybox-static kmod)
for lib in libacl1 libblkid1 libcap2 libkmod2 libselinux1 libudev1; do
  if ! dpkg-query -W -f='${Status}' "$lib" 2>/dev/null | grep -q 'install ok installed'; then
    pkgs+=("$lib")
  fi
done
# apt's download user cannot write into root's folders; the files are ours.
(cd "$cache/debs" && apt-get download -q "${pkgs[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
for deb in "$cache"/debs/*.deb; do
  dpkg-deb -x "$deb" "$cache/root"
done
rm -rf "$cache/debs"

# Merged /usr: on the machine /bin, /sbin and /lib are links into /usr; a
# directory of the same name in an upper overlay layer would hide them.
for d in bin sbin lib lib64; do
  if [ -d "$cache/root/$d" ] && [ ! -L "$cache/root/$d" ]; then
    mkdir -p "$cache/root/usr/$d"
    cp -a "$cache/root/$d/." "$cache/root/usr/$d/"
    rm -rf "${cache:?}/root/$d"
  fi
done
# Nothing in the guest starts services from these.
rm -rf "$cache/root/etc/init.d" "$cache/root/usr/share/doc" "$cache/root/usr/share/man"

# The package leaves modules.dep and its indexes to depmod at install time.
moddir="$cache/root/usr/lib/modules/$kver"
# kmod acts by the name it is called by.
ln -sf kmod "$cache/root/usr/bin/depmod"
"$cache/root/usr/bin/depmod" -b "$cache/root/usr" "$kver"
rm "$cache/root/usr/bin/depmod"
if [ ! -f "$moddir/modules.dep" ]; then
  echo "realkernel fetch: depmod wrote no modules.dep for $kver" >&2
  exit 1
fi
cp "$cache/root/boot/vmlinuz-$kver" "$cache/vmlinuz"
rm -rf "$cache/root/boot"

build_initramfs "$kver"
echo "$kver" >"$cache/kernel-version"
touch "$cache/.complete"
echo "realkernel fetch: cache ready in $cache (kernel $kver, initramfs $(du -k "$cache/initrd.img" | cut -f1) KiB)"
