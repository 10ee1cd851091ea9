#!/usr/bin/env bash
# Builds everything, cross-builds the core and the Windows backend with
# mingw-w64 (so the Windows side is compiled on every run), then runs every
# test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows
echo "windows cross-build: ok"
cmake --preset default
cmake --build --preset default
ctest --preset default
