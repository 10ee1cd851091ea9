#!/usr/bin/env bash
# Builds everything, cross-builds the core and the Windows backend with
# mingw-w64 (so the Windows side is compiled on every run), runs the tests
# that start real threads under ThreadSanitizer, then runs every test through
# ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
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
