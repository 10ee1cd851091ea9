#!/usr/bin/env bash
# Builds everything and runs every test, then cross-builds the core and the
# Windows backend with mingw-w64 so the Windows side is compiled on every run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
cmake --preset windows
cmake --build --preset windows
echo "windows cross-build: ok"
