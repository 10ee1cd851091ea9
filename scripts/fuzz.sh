#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for SECONDS (default 20):
#   fuzz_scenario  scenario files, parsed and then played out on the simulator
#   fuzz_settings  settings files and password records: parse, write back, load
#   fuzz_records   identification sectors and status records through detection,
#                  polling, the event log, the Status page and both report forms
#   fuzz_image     firmware image files of any length, content and broken reads
#   fuzz_builder   the image builder's typed numbers, names and input files
#   fuzz_service   the monitor service's request lines: one answer each, refusals say why
#   fuzz_command_line  raidctl's command lines and the mail words the service reads from a
#                  client: a command, help or a usage error that says why; mail round trips
# Every input starts from a fresh state; nothing is written to disk but the
# corpus. A finding stops the run with a non-zero exit; the input that caused
# it is kept as out/fuzz/<target>-crash-* (replay: build/fuzz/fuzz/<target> FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
RAID_FUZZ=1 bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
seconds="${1:-20}"
mkdir -p out/fuzz
for f in fuzz_scenario fuzz_records fuzz_image fuzz_settings fuzz_builder fuzz_service fuzz_command_line; do
  corpus="out/fuzz/$f-corpus"
  mkdir -p "$corpus"
  extra=()
  if [ "$f" = fuzz_scenario ]; then
    cp scenarios/*.json "$corpus/" 2>/dev/null || true
    extra=(-dict=fuzz/scenario.dict -max_len=8192)
  elif [ "$f" = fuzz_settings ]; then
    printf '[SOFTWARE\\KX_RAID_GUI]\n"Port"="25"\n"ToAddrCount"=dword:00000002\n"ProductID"=hex:a5,3c\n' \
      > "$corpus/seed.conf"
    extra=(-max_len=4096)
  elif [ "$f" = fuzz_command_line ]; then
    printf 'mail\0set\0--server=x\0--port\00025\0--password-stdin' >"$corpus/mail"
    printf 'upgrade\0--slot=1\0fw.bin\0--simulate' >"$corpus/upgrade"
    extra=(-max_len=512)
  elif [ "$f" = fuzz_service ]; then
    printf '{"op":"hello","id":1,"protocol":1,"client":"c"}\n{"op":"status","id":2}\n{"op":"log"}\n' >"$corpus/seed.txt"
    extra=(-max_len=4096)
  else
    extra=(-max_len=4096)
  fi
  echo "== $f: ${seconds}s"
  if ! "build/fuzz/fuzz/$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="out/fuzz/$f-" "${extra[@]}" "$corpus" >"out/fuzz/$f.log" 2>&1; then
    tail -n 60 "out/fuzz/$f.log"
    echo "fuzz: $f found a problem (log: out/fuzz/$f.log)" >&2
    exit 1
  fi
  grep -E "^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)" "out/fuzz/$f.log" || true
done
echo "fuzz: every target ran ${seconds}s without a finding"
