#!/usr/bin/env bash
# Builds everything, cross-builds the core and the Windows backend with
# mingw-w64 (so the Windows side is compiled on every run), runs the tests
# that start real threads under ThreadSanitizer, then runs every test through
# ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! bash scripts/install-deps.sh; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "test: install the packages once as root:  sudo bash scripts/install-deps.sh" >&2
    echo "test: then run the tests as yourself:  bash scripts/test.sh" >&2
  fi
  exit 1
fi
cmake --preset windows -DRAID_WERROR=ON
cmake --build --preset windows
echo "windows cross-build: ok"
# The tests that start real threads, under ThreadSanitizer.
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
cmake --preset default -DRAID_WERROR=ON
cmake --build --preset default
ctest --preset default
