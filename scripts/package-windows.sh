#!/usr/bin/env bash
# Packs the Windows programs (the windows preset's build) for Windows users:
#   out/windows/raidgui-VERSION-win64.zip        the programs with their runtime,
#                                                to unpack anywhere and start
#   out/windows/raidgui-VERSION-win64-setup.exe  an installer (Program Files,
#                                                Start menu, uninstaller)
# Layout as Qt looks for it: raidgui.exe, raidmon.exe and raidctl.exe beside
# the Qt and mingw runtime libraries, the platform plugin in platforms/, the
# style in styles/. Everything is stripped.
# Usage: package-windows.sh [BUILD_DIR [OUT_DIR]]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/windows}"
out="${2:-out/windows}"
if [ ! -f "$build/app/raidgui.exe" ]; then
  echo "package-windows: no Windows build in $build; build it first:" >&2
  echo "  bash scripts/build-windows-qt.sh && cmake --preset windows && cmake --build --preset windows" >&2
  exit 1
fi
for tool in zip makensis x86_64-w64-mingw32-strip; do
  command -v "$tool" >/dev/null || { echo "package-windows: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="raidgui-$version-win64"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage="$work/$name"
cmake --install "$build" --prefix "$stage" >/dev/null
find "$stage" -name '*.exe' -o -name '*.dll' | xargs x86_64-w64-mingw32-strip --strip-unneeded
# The README with Windows line ends, so Notepad shows its lines.
sed 's/$/\r/' README.md >"$stage/README.txt"

mkdir -p "$out"
out=$(realpath "$out")
rm -f "$out/$name.zip" "$out/$name-setup.exe"
(cd "$work" && zip -q -9 -r "$out/$name.zip" "$name")

# The uninstaller removes exactly the installed files, deepest folders last.
(cd "$stage" && find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
 cd "$stage" && find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|') >"$work/files.nsh"
makensis -V2 -NOCD -DVERSION="$version" -DSTAGE="$stage" -DFILES="$work/files.nsh" \
  -DOUTFILE="$out/$name-setup.exe" app/windows/raidgui.nsi
ls -l "$out/$name.zip" "$out/$name-setup.exe" | awk '{print "package-windows: " $NF " (" $5 " bytes)"}'
