#!/usr/bin/env bash
# The README's examples run as written and print what it shows. Each fenced
# block right after a line "<!-- example -->" is run from a folder laid out
# like the source tree (build/default/app holds the programs under test,
# which are also on PATH): a block whose lines start with "$ " is a
# transcript, each command's output (stdout and stderr) compared with the
# lines after it; any other block is run whole and must succeed.
set -euo pipefail
app=$(realpath "$1"); src=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/build/default"
ln -s "$app" "$work/tree/build/default/app"
for d in scenarios examples; do ln -s "$src/$d" "$work/tree/$d"; done
export LC_ALL=C XDG_RUNTIME_DIR="$work" PATH="$app:$PATH"
failed=0 ran=0

run_transcript() {  # the block's lines in $work/block
  local cmd="" expected="$work/expected" got="$work/got"
  : >"$expected"
  finish() {
    [ -n "$cmd" ] || return 0
    (cd "$work/tree" && bash -c "$cmd") >"$got" 2>&1 || true
    if ! diff -u "$expected" "$got" >"$work/diff"; then
      echo "README line $start: \$ $cmd"; cat "$work/diff"; failed=1
    fi
    ran=$((ran + 1))
  }
  while IFS= read -r line; do
    if [[ "$line" == '$ '* ]]; then
      finish
      cmd="${line#\$ }"
      : >"$expected"
    else
      printf '%s\n' "$line" >>"$expected"
    fi
  done <"$work/block"
  finish
}

marked=0 inblock=0 start=0 n=0
while IFS= read -r line; do
  n=$((n + 1))
  if [ "$inblock" = 1 ]; then
    if [[ "$line" == '```'* ]]; then
      inblock=0
      if grep -q '^\$ ' "$work/block"; then
        run_transcript
      else
        if ! (cd "$work/tree" && bash -euo pipefail "$work/block") >"$work/out" 2>&1; then
          echo "README line $start: the example failed:"; cat "$work/block" "$work/out"; failed=1
        fi
        ran=$((ran + 1))
      fi
    else
      printf '%s\n' "$line" >>"$work/block"
    fi
    continue
  fi
  if [ "$marked" = 1 ] && [[ "$line" == '```'* ]]; then
    inblock=1 start=$n
    : >"$work/block"
  fi
  marked=0
  [ "$line" = "<!-- example -->" ] && marked=1
done <"$src/README.md"
[ "$ran" -gt 0 ] || { echo "no example found"; exit 1; }
[ "$failed" = 0 ] || exit 1
echo "README examples: $ran ran as shown"
