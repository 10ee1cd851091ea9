#!/usr/bin/env bash
# Builds what the Windows programs link against, from Debian's own source
# packages, with the posix-thread mingw-w64 compilers, into a cache folder
# outside the tree (default /var/cache/raidgui-windows, or $RAID_WINDOWS_CACHE):
#   qt6-<version>/   QtCore, QtGui, QtWidgets and the qwindows platform plugin
#   curl-<version>/  a static libcurl with Schannel only
#   mingw-w64-x86_64.cmake   the toolchain file Qt's own toolchain file
#                            chain-loads (so it must stay at this path)
# Does nothing for a part whose cache is already there. The first run takes
# about 25 minutes on two idle cores (Qt is about 42 CPU-minutes); every
# heavy step runs under nice. Needs root for apt (deb-src and the sources).
set -euo pipefail
cd "$(dirname "$0")/.."
cache="${RAID_WINDOWS_CACHE:-/var/cache/raidgui-windows}"
qt_version=6.4.2
curl_version=7.88.1
qt_prefix="$cache/qt6-$qt_version"
curl_prefix="$cache/curl-$curl_version"
jobs="${RAID_JOBS:-2}"
mkdir -p "$cache"

if [ -f "$qt_prefix/.complete" ] && [ -f "$curl_prefix/.complete" ]; then
  echo "windows libraries: cached in $cache"
  exit 0
fi

# The toolchain file at a stable path: Qt's generated toolchain file
# records the absolute path of the one it was built with.
install -m 0644 cmake/mingw-w64-x86_64.cmake "$cache/mingw-w64-x86_64.cmake"

# Source packages need a deb-src entry.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > /etc/apt/sources.list.d/debian-src.sources
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/debian-src.list
  fi
  apt-get update -qq
fi

work="$cache/work"
mkdir -p "$work"

if [ ! -f "$qt_prefix/.complete" ]; then
  echo "windows libraries: building Qt $qt_version for mingw-w64 (about 25 minutes on two idle cores)"
  (cd "$work" && [ -d "qt6-base-$qt_version+dfsg" ] || (apt-get source -qq qt6-base >/dev/null))
  src=$(ls -d "$work"/qt6-base-"$qt_version"*/ | head -n 1)
  rm -rf "$work/build-qt"
  # Pitfalls of this Qt on Debian: host tools come from /usr with their
  # CMake packages in the multiarch folder; the source has no wintab (no
  # tablet events); with Direct2D off, DirectWrite 3 must be off too.
  nice -n 15 cmake -G Ninja -S "$src" -B "$work/build-qt" \
    -DCMAKE_TOOLCHAIN_FILE="$cache/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$qt_prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_pkg_config=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_testlib=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_directwrite3=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF -DFEATURE_icu=OFF >"$work/qt-configure.log" 2>&1 \
    || { tail -n 40 "$work/qt-configure.log"; exit 1; }
  nice -n 15 ninja -C "$work/build-qt" -j"$jobs" >"$work/qt-build.log" 2>&1 \
    || { grep -m 20 -B2 -A8 'error' "$work/qt-build.log" | tail -n 60; exit 1; }
  cmake --install "$work/build-qt" >/dev/null
  touch "$qt_prefix/.complete"
  rm -rf "$work/build-qt"
fi

if [ ! -f "$curl_prefix/.complete" ]; then
  echo "windows libraries: building libcurl $curl_version for mingw-w64 (Schannel, static)"
  (cd "$work" && [ -d "curl-$curl_version" ] || (apt-get source -qq curl >/dev/null))
  rm -rf "$work/build-curl"
  nice -n 15 cmake -G Ninja -S "$work/curl-$curl_version" -B "$work/build-curl" \
    -DCMAKE_TOOLCHAIN_FILE="$cache/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$curl_prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_MBEDTLS=OFF -DCURL_USE_WOLFSSL=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_GSSAPI=OFF \
    -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DENABLE_UNICODE=ON >"$work/curl-configure.log" 2>&1 \
    || { tail -n 40 "$work/curl-configure.log"; exit 1; }
  nice -n 15 ninja -C "$work/build-curl" -j"$jobs" >"$work/curl-build.log" 2>&1 \
    || { tail -n 40 "$work/curl-build.log"; exit 1; }
  cmake --install "$work/build-curl" >/dev/null
  touch "$curl_prefix/.complete"
  rm -rf "$work/build-curl"
fi
echo "windows libraries: ready in $cache"
