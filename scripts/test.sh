#!/usr/bin/env bash
# Builds everything and runs every test:
# - the Windows programs (raidgui.exe, raidmon.exe, raidctl.exe) against the
#   cached Qt and libcurl for mingw-w64 (scripts/build-windows-qt.sh builds
#   them once, about 25 minutes; then they are reused), and their zip and
#   installer (scripts/package-windows.sh);
# - the tests that start real threads under ThreadSanitizer;
# - the Linux build and every test through ctest, the Windows programs' own
#   code under wine among them (tests/e2e_windows.sh, about 3 minutes).
# RAID_SKIP_WINDOWS=1 leaves out everything Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! bash scripts/install-deps.sh; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "test: install the packages once as root:  sudo bash scripts/install-deps.sh" >&2
    echo "test: then run the tests as yourself:  bash scripts/test.sh" >&2
  fi
  exit 1
fi
if [ "${RAID_SKIP_WINDOWS:-}" != 1 ]; then
  cache="${RAID_WINDOWS_CACHE:-/var/cache/raidgui-windows}"
  if [ ! -f "$cache/qt6-6.4.2/.complete" ] || [ ! -f "$cache/curl-7.88.1/.complete" ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "test: the Windows libraries are not built yet; once, as root:  sudo bash scripts/build-windows-qt.sh" >&2
      echo "test: or leave the Windows part out:  RAID_SKIP_WINDOWS=1 bash scripts/test.sh" >&2
      exit 1
    fi
  fi
  bash scripts/build-windows-qt.sh
  win_flags=(-DRAID_WERROR=ON)
  if [ -n "${RAID_WINDOWS_CACHE:-}" ]; then
    win_flags+=(-DCMAKE_TOOLCHAIN_FILE="$cache/qt6-6.4.2/lib/cmake/Qt6/qt.toolchain.cmake"
      -DCURL_DIR="$cache/curl-7.88.1/lib/cmake/CURL")
  fi
  cmake --preset windows "${win_flags[@]}"
  nice -n 5 cmake --build --preset windows
  echo "windows build: ok"
  bash scripts/package-windows.sh
else
  # No stale Windows build is tested.
  echo "test: the Windows part is left out (RAID_SKIP_WINDOWS=1)"
fi
# The tests that start real threads, under ThreadSanitizer.
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
cmake --preset default -DRAID_WERROR=ON
cmake --build --preset default
ctest --preset default
