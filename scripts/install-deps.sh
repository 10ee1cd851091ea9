#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests (python3-aiosmtpd: the
# SMTP server the mail tests start on 127.0.0.1; openssl: its certificate) and the Windows
# cross-build need (wine64 runs the Windows programs in the tests, nsis and
# zip make the Windows packages, dpkg-dev fetches the sources of the Windows
# libraries). Idempotent: quick when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev libudev-dev libcurl4-openssl-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  xvfb xauth fonts-dejavu-core clang-format
  python3-aiosmtpd openssl
  prometheus-node-exporter prometheus icinga2-bin  # e2e_metrics.sh, e2e_monitoring.sh (exporter, promtool, icinga2 -C)
  libsystemd-dev help2man lintian
  libcli11-dev  # the command-line parser of raidgui, raidmon and raidctl (header-only)
)
if [ "${RAID_SKIP_WINDOWS:-}" != 1 ]; then
  PACKAGES+=(wine64 nsis zip dpkg-dev)
fi

# The package install check builds a clean Debian 12 root
# (scripts/test-package-install.sh only).
if [ "${RAID_PACKAGE:-}" = 1 ]; then
  PACKAGES+=(debootstrap)
fi

# The fuzzers want clang and its fuzzer runtime (scripts/fuzz.sh only).
if [ "${RAID_FUZZ:-}" = 1 ]; then
  PACKAGES+=(clang libclang-rt-14-dev)
fi

# The real-kernel tests (tests/realkernel/): user-mode-linux runs Debian's
# kernel as a process, with the SCSI target modules the TCMU responder needs;
# QEMU boots Debian's kernel for the USB path (scripts/realkernel/fetch.sh
# downloads that kernel, udev and busybox without installing them).
if [ "${RAID_REALKERNEL:-}" = 1 ]; then
  PACKAGES+=(user-mode-linux qemu-system-x86)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: installing needs root, once:  sudo bash scripts/install-deps.sh" >&2
  echo "install-deps: building, testing and running then work as yourself" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "install-deps: installed ${missing[*]}"
