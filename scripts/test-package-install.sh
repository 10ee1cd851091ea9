#!/usr/bin/env bash
# Installs the package into a clean Debian 12 root and runs the installed
# monitor on the simulated enclosure:
#   debootstrap bookworm -> apt-get install ./raidgui_*.deb (pulls its
#   dependencies) -> /usr/bin/raidmon --simulate --duration 10
#   -> /usr/bin/raidctl check --simulate, and the files the package must hold.
# Needs root, debootstrap (RAID_PACKAGE=1 bash scripts/install-deps.sh) and
# a Debian mirror; takes a few minutes, so it is not part of ctest.
# usage: scripts/test-package-install.sh [DEB] [MIRROR]
set -euo pipefail
cd "$(dirname "$0")/.."
deb="${1:-}"
mirror="${2:-http://deb.debian.org/debian}"
if [ -z "$deb" ]; then
  bash scripts/package.sh >/dev/null
  deb=$(ls -t build/default/raidgui_*.deb | head -1)
fi
[ "$(id -u)" -eq 0 ] || { echo "test-package-install: needs root (chroot)"; exit 1; }
command -v debootstrap >/dev/null || { echo "test-package-install: needs debootstrap: RAID_PACKAGE=1 bash scripts/install-deps.sh"; exit 1; }

root=$(mktemp -d /var/tmp/raidgui-root.XXXXXX)
cleanup() {
  for m in proc sys dev; do umount -l "$root/$m" 2>/dev/null || true; done
  rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "test-package-install: FAILED: $*"; exit 1; }

echo "test-package-install: a clean Debian 12 root in $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 || { tail -20 "$root.log"; fail "debootstrap"; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
cp "$deb" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"; }

echo "test-package-install: installing $(basename "$deb") with its dependencies"
in_root apt-get update -qq >/dev/null
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" >/dev/null \
  || fail "apt-get install"

for f in /usr/bin/raidgui /usr/bin/raidmon /usr/bin/raidctl /usr/lib/systemd/system/raidmon.service \
    /usr/share/applications/raidgui.desktop /usr/share/polkit-1/actions/org.raidgui.raidgui.policy \
    /usr/share/icons/hicolor/48x48/apps/raidgui.png /usr/share/doc/raidgui/README.md; do
  [ -e "$root$f" ] || fail "$f is missing"
done

echo "test-package-install: /usr/bin/raidmon --simulate --duration 10"
in_root /usr/bin/raidmon --simulate --duration 10 --log-dir /var/log/raidgui >"$root/tmp/mon.out" 2>&1 \
  || { cat "$root/tmp/mon.out"; fail "raidmon ended with an error"; }
grep -q "has started from" "$root/tmp/mon.out" || { cat "$root/tmp/mon.out"; fail "no day log line"; }
ls "$root/var/log/raidgui/"*.log >/dev/null 2>&1 || fail "no day log file in /var/log/raidgui"
in_root /usr/bin/raidctl check --simulate >"$root/tmp/check.out" || { cat "$root/tmp/check.out"; fail "raidctl check"; }
grep -q "^RAID OK - Device1: Normal" "$root/tmp/check.out" || fail "check: $(cat "$root/tmp/check.out")"
in_root env QT_QPA_PLATFORM=offscreen /usr/bin/raidgui --help >/dev/null || fail "raidgui --help"
echo "test-package-install: OK ($(head -1 "$root/tmp/check.out"))"
