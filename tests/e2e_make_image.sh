#!/usr/bin/env bash
# End-to-end checks of raidctl make-image: a seeded build is the same file
# twice, its marks and layout are where the upgrade looks, the simulated
# enclosure takes it with "SPI Verify OK", and bad input is refused with
# its message, its exit code and no file written.
set -euo pipefail
ctl="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "$*"; exit 1; }
byte() { od -An -tx1 -j "$2" -N1 "$1" | tr -d ' '; }

# A boot loader of 4 KiB: "FIPS", C = 0x78000 in bytes 16..18.
boot="$work/SPIHEAD.BIN"
head -c 4096 /dev/zero | tr '\0' '\125' >"$boot"
printf 'FIPS' | dd of="$boot" conv=notrunc status=none
printf '\000\200\007' | dd of="$boot" bs=1 seek=16 conv=notrunc status=none
head -c 1000 /dev/zero | tr '\0' '\042' >"$work/main02.bin"
head -c 49153 /dev/zero >"$work/big.bin"

"$ctl" make-image --boot "$boot" --sub "$work/main02.bin" --sub "$work/main02.bin:1Ah:keep" --seed 7 \
  -o "$work/a.dat" >"$work/a.txt"
grep -q "^Svae File OK :$work/a.bin$" "$work/a.txt" || fail "a: $(cat "$work/a.txt")"
grep -q "^Sub-code 2: $work/main02.bin, code type 1Ah, keep, slot 0x18000$" "$work/a.txt" || fail "$(cat "$work/a.txt")"
[ ! -e "$work/a.dat" ] || fail "the .dat name was written"
[ "$(stat -c %s "$work/a.bin")" -eq 524288 ] || fail "size"
# The flag in any case; the same seed gives the same image.
"$ctl" make-image --boot "$boot" --sub "$work/main02.bin" --sub "$work/main02.bin:1Ah:KEEP" --seed 7 \
  -o "$work/b" >/dev/null
cmp -s "$work/a.bin" "$work/b.bin" || fail "the same seed gave another image"
[ "$(byte "$work/a.bin" 491521)" = a0 ] || fail "version byte"
[ "$(byte "$work/a.bin" $((0x78000 + 2)))" = 02 ] || fail "directory type 1"
[ "$(byte "$work/a.bin" $((0x78000 + 11)))" = 00 ] || fail "directory flag 2 (keep)"
[ "$(byte "$work/a.bin" $((0x78000 + 113)))" = 04 ] || fail "function flags"
[ "$(byte "$work/a.bin" $((0x18000)))" = 22 ] || fail "slot 2"

# The simulated enclosure takes it.
"$ctl" upgrade "$work/a.bin" --simulate --yes >"$work/up.txt" </dev/null || fail "upgrade: $(cat "$work/up.txt")"
grep -q "SPI Verify OK" "$work/up.txt" || fail "$(cat "$work/up.txt")"

set +e
expect() {  # expect CODE TEXT ARGS...: the exit code, the message, no output file
  local code="$1" text="$2"; shift 2
  rm -f "$work/out.bin"
  "$ctl" make-image "$@" >"$work/r.txt" 2>&1; local rc=$?
  [ "$rc" -eq "$code" ] || fail "$*: code $rc: $(cat "$work/r.txt")"
  grep -qF -- "$text" "$work/r.txt" || fail "$*: $(cat "$work/r.txt")"
  [ ! -e "$work/out.bin" ] || fail "$*: a file was written"
}
expect 2 "needs the boot loader" -o "$work/out.bin"
expect 2 "needs the file to write" --boot "$boot"
expect 2 "--simulate is not an option of make-image" --boot "$boot" -o "$work/out.bin" --simulate
expect 2 "--size takes auto, 1M, 2M, 4M or 8M" --boot "$boot" --size 3M -o "$work/out.bin"
expect 2 "is a folder: name the image file to write" --boot "$boot" -o "$work"
expect 2 "--size: An image of 2M Bits (262144 bytes) is too small" --boot "$boot" --size 2M -o "$work/out.bin"
expect 2 "--fan: FAN \"Supported:\": \"x\" is not a number" --boot "$boot" --fan x -o "$work/out.bin"
expect 2 "--thermal-limit: Thermal sensor \"Alarm Limit:\": is empty" --boot "$boot" --thermal-limit "" -o "$work/out.bin"
expect 2 "Code Type: FFh marks an unused directory entry" --boot "$boot" --sub "$work/main02.bin:ffh" -o "$work/out.bin"
expect 2 "--seed is given twice" --boot "$boot" --seed 1 --seed 2 -o "$work/out.bin"
subs=(); for i in 1 2 3 4 5 6 7 8 9 10 11; do subs+=(--sub "$work/main02.bin"); done
expect 2 "An image holds at most 10 sub-codes" --boot "$boot" "${subs[@]}" -o "$work/out.bin"
expect 1 "The slot of sub-code 10 (0x78000 to 0x83FFF) reaches into the configuration block" \
  --boot "$boot" "${subs[@]:0:20}" -o "$work/out.bin"
expect 1 "Fail to open firmware file: $work/missing.bin" --boot "$work/missing.bin" -o "$work/out.bin"
expect 1 "Fail to open firmware file: $work" --boot "$boot" --sub "$work" -o "$work/out.bin"
expect 1 "is 49153 bytes long" --boot "$boot" --sub "$work/big.bin" -o "$work/out.bin"
head -c 18 "$boot" >"$work/short.bin"
expect 1 "too short to hold the configuration offset" --boot "$work/short.bin" -o "$work/out.bin"
"$ctl" make-image --boot "$boot" -o "$work/nofolder/x.bin" >"$work/r.txt" 2>&1; rc=$?
[ "$rc" -eq 1 ] && grep -q "Fail to create file: $work/nofolder/x.bin" "$work/r.txt" || fail "create: $rc $(cat "$work/r.txt")"
# Another C builds, with a warning.
cp "$boot" "$work/other.bin"
printf '\000\200\001' | dd of="$work/other.bin" bs=1 seek=16 conv=notrunc status=none
"$ctl" make-image --boot "$work/other.bin" -o "$work/other-out" >"$work/r.txt" 2>&1; rc=$?
[ "$rc" -eq 0 ] && grep -q "warning: .*0x18000, not at 0x78000" "$work/r.txt" || fail "other C: $rc $(cat "$work/r.txt")"
[ "$(stat -c %s "$work/other-out.bin")" -eq $((0x20000)) ] || fail "other C size"
echo "make-image: all checks passed"
