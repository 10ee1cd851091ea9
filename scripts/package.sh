#!/usr/bin/env bash
# Builds the two Debian packages and their debug symbol packages from the
# default (release, hardened) build:
#   build/default/raidmon_<version>_<arch>.deb   raidmon, raidctl, the unit
#   build/default/raidgui_<version>_<arch>.deb   the window, desktop entry, icons
#   build/default/*-dbgsym_<version>_<arch>.ddeb their debug symbols
# (docs/packaging.md). Needs the packages of scripts/install-deps.sh
# (dpkg-dev for the library dependencies, help2man for the manual pages).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v help2man >/dev/null || { echo "package: needs help2man (scripts/install-deps.sh)"; exit 1; }
cmake --preset default >/dev/null
nice -n 10 cmake --build --preset default -j2 --target raidgui raidmon raidctl raidgui_icon_files raidgui_package_files
cd build/default
rm -f raidmon_*.deb raidgui_*.deb ./*-dbgsym_*.ddeb
cpack -G DEB >/dev/null
# CPack's debug symbol packages are finished as dh_strip makes them: their
# md5sums name the files inside the package (CPack writes its own build
# paths there), the symbols are not executable, and the documentation is
# the main package's (/usr/share/doc/PACKAGE-dbgsym -> PACKAGE).
for ddeb in ./*-dbgsym_*.ddeb; do
  pkg=$(dpkg-deb -f "$ddeb" Package)
  tree=$(mktemp -d)
  dpkg-deb -R "$ddeb" "$tree"
  find "$tree/usr" -type f -name '*.debug' -exec chmod 0644 {} +
  mkdir -p "$tree/usr/share/doc"
  ln -s "${pkg%-dbgsym}" "$tree/usr/share/doc/$pkg"
  (cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
  dpkg-deb --root-owner-group -Zgzip -b "$tree" "$ddeb" >/dev/null
  rm -rf "$tree"
done
for deb in raidmon_*.deb raidgui_*.deb ./*-dbgsym_*.ddeb; do
  echo "package: build/default/${deb#./}"
done
