#!/usr/bin/env bash
# Builds everything and runs every test:
# - the Windows programs (raidgui.exe, raidmon.exe, raidctl.exe) against the
#   cached Qt and libcurl for mingw-w64 (scripts/build-windows-qt.sh builds
#   them once, about 25 minutes; then they are reused), and their zip and
#   installer (scripts/package-windows.sh);
# - the tests that start real threads under ThreadSanitizer;
# - the Linux build and every test through ctest, the Windows programs' own
#   code under wine among them (tests/e2e_windows.sh, about 3 minutes);
# - the Debian packages made from that build, checked with lintian and
#   readelf (tests/package_check.sh, well under a minute).
# - the real-kernel stories: Debian's kernel under QEMU and user-mode-linux
#   with the simulator behind a real /dev/sdX (scripts/realkernel/fetch.sh
#   downloads the kernel, udev and busybox once, about 110 MB, as root).
# RAID_SKIP_WINDOWS=1 leaves out everything Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! RAID_REALKERNEL=1 bash scripts/install-deps.sh; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "test: install the packages once as root:  sudo RAID_REALKERNEL=1 bash scripts/install-deps.sh" >&2
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
# The kernel and udev of the real-kernel tests; without them (not root, no
# cache yet) those tests say so and are skipped.
if ! bash scripts/realkernel/fetch.sh; then
  if [ "$(id -u)" -eq 0 ]; then
    exit 1
  fi
  echo "test: the real-kernel tests are skipped; once, as root:  sudo bash scripts/realkernel/fetch.sh" >&2
fi
# The tests that start real threads, under ThreadSanitizer.
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
cmake --preset default -DRAID_WERROR=ON -DRAID_REALKERNEL=ON
cmake --build --preset default
ctest --preset default
# The Debian packages from that build: lintian, hardening, manual pages.
bash tests/package_check.sh
