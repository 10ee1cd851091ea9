#!/usr/bin/env bash
# Every C++ file of the tree is formatted as .clang-format says
# (clang-format --dry-run names each place that is not).
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
command -v clang-format >/dev/null || { echo "clang-format is not installed (scripts/install-deps.sh)"; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.cxx' 2>/dev/null || find app device monitor maintenance notify platform sim tests bench fuzz -name '*.cpp' -o -name '*.h' -o -name '*.cxx')
clang-format --dry-run -Werror "${files[@]}"
