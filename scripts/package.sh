#!/usr/bin/env bash
# Builds the Debian package from the default (release) build:
#   build/default/raidgui_<version>_<arch>.deb
# holding raidgui, raidmon, raidctl, the raidmon unit, the desktop entry, the
# icons, the polkit policy and the documentation. Needs the packages of
# scripts/install-deps.sh (dpkg-dev for the library dependencies).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target raidgui raidmon raidctl raidgui_icon_files
cd build/default
cpack -G DEB >/dev/null
deb=$(ls -t raidgui_*.deb | head -1)
echo "package: build/default/$deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,/Description:/p'
