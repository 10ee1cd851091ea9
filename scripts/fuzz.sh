#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while
# (SECONDS, default 60). Findings are written to out/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
RAID_FUZZ=1 bash scripts/install-deps.sh
cmake --preset fuzz
cmake --build --preset fuzz
seconds="${1:-60}"
mkdir -p out/fuzz
for f in fuzz_scenario fuzz_records fuzz_image; do
  mkdir -p "out/fuzz/$f-corpus"
  [ "$f" = fuzz_scenario ] && cp scenarios/*.json "out/fuzz/$f-corpus/" 2>/dev/null || true
  "build/fuzz/fuzz/$f" -max_total_time="$seconds" -artifact_prefix="out/fuzz/$f-" "out/fuzz/$f-corpus"
done
