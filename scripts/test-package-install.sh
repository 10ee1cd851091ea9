#!/usr/bin/env bash
# Installs both packages into a clean Debian 12 root and runs the installed
# programs on the simulated enclosure:
#   debootstrap bookworm -> apt-get install ./raidmon_*.deb ./raidgui_*.deb
#   (pulls their dependencies) -> /usr/bin/raidmon --simulate --duration 10
#   (its day log in /var/log/raidgui, the installed default)
#   -> /usr/bin/raidctl check --simulate, the files the packages must hold,
#   then removes and purges them (the maintainer scripts run without
#   errors; the purge takes the day logs). Where systemd runs in the root
#   (not in a plain chroot), the service is started too.
# Needs root, debootstrap (RAID_PACKAGE=1 bash scripts/install-deps.sh) and
# a Debian mirror; takes a few minutes, so it is not part of ctest.
# usage: scripts/test-package-install.sh [FOLDER_WITH_DEBS] [MIRROR]
set -euo pipefail
cd "$(dirname "$0")/.."
debs="${1:-}"
mirror="${2:-http://deb.debian.org/debian}"
if [ -z "$debs" ]; then
  bash scripts/package.sh >/dev/null
  debs=build/default
fi
mon=$(ls -t "$debs"/raidmon_*.deb | head -1)
gui=$(ls -t "$debs"/raidgui_*.deb | head -1)
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
cp "$mon" "$gui" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"; }

echo "test-package-install: installing $(basename "$mon") and $(basename "$gui") with their dependencies"
in_root apt-get update -qq >/dev/null
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$mon")" "/tmp/$(basename "$gui")" \
  >"$root/tmp/install.out" 2>&1 || { tail -20 "$root/tmp/install.out"; fail "apt-get install"; }

for f in /usr/bin/raidgui /usr/bin/raidmon /usr/bin/raidctl /usr/lib/systemd/system/raidmon.service \
    /usr/share/applications/raidgui.desktop /usr/share/polkit-1/actions/org.raidgui.raidgui.policy \
    /usr/libexec/raidgui/raidgui-standalone \
    /usr/share/icons/hicolor/48x48/apps/raidgui.png /usr/share/doc/raidmon/README.md \
    /usr/share/man/man1/raidmon.1.gz /usr/share/man/man1/raidctl.1.gz /usr/share/man/man1/raidgui.1.gz \
    /usr/share/doc/raidmon/copyright /usr/share/doc/raidgui/changelog.Debian.gz \
    /usr/share/bash-completion/completions/raidctl; do
  [ -e "$root$f" ] || fail "$f is missing"
done
in_root getent group raidgui >/dev/null || fail "the group raidgui was not made"

echo "test-package-install: /usr/bin/raidmon --simulate --duration 10"
in_root /usr/bin/raidmon --simulate --duration 10 >"$root/tmp/mon.out" 2>&1 \
  || { cat "$root/tmp/mon.out"; fail "raidmon ended with an error"; }
grep -q "has started from" "$root/tmp/mon.out" || { cat "$root/tmp/mon.out"; fail "no day log line"; }
grep -q "day log folder: /var/log/raidgui$" "$root/tmp/mon.out" || fail "day log folder: $(grep folder "$root/tmp/mon.out")"
ls "$root/var/log/raidgui/"*.log >/dev/null 2>&1 || fail "no day log file in /var/log/raidgui"
! ls "$root/usr/bin/"*.log >/dev/null 2>&1 || fail "a day log in /usr/bin"
in_root /usr/bin/raidctl check --simulate >"$root/tmp/check.out" || { cat "$root/tmp/check.out"; fail "raidctl check"; }
grep -q "^RAID OK - Device1: Normal" "$root/tmp/check.out" || fail "check: $(cat "$root/tmp/check.out")"
in_root env QT_QPA_PLATFORM=offscreen /usr/bin/raidgui --help >/dev/null || fail "raidgui --help"
# The installed completion asks the installed raidctl.
completed=$(in_root bash -c 'source /usr/share/bash-completion/completions/raidctl
  COMP_WORDS=(raidctl schedule on --period ""); COMP_CWORD=4; _raidctl; echo "${COMPREPLY[*]}"')
[ "$completed" = "10 30 60 180" ] || fail "bash completion of --period: \"$completed\""

# The service, where systemd runs the root (a container with systemd as its
# first process); a plain chroot has none, and the scripts then leave it.
if [ -d "$root/run/systemd/system" ]; then
  in_root systemctl start raidmon.service || fail "the service does not start"
  in_root systemctl is-active raidmon.service || fail "the service is not running"
fi

echo "test-package-install: removing and purging"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq raidgui raidmon >"$root/tmp/purge.out" 2>&1 \
  || { cat "$root/tmp/purge.out"; fail "apt-get purge"; }
[ ! -e "$root/usr/bin/raidmon" ] || fail "raidmon is still there after the purge"
[ ! -e "$root/var/log/raidgui" ] || fail "the day logs are still there after the purge"
echo "test-package-install: OK ($(head -1 "$root/tmp/check.out"))"
