#!/usr/bin/env bash
# The packages as Debian would take them (scripts/test.sh runs this after
# the build): both built, lintian without errors, the programs hardened
# (BIND_NOW, PIE, the fortified __*_chk calls) and stripped with their
# symbols in the -dbgsym packages, the manual pages in, and the monitor's
# package free of any GUI library.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v lintian >/dev/null || { echo "package_check: needs lintian (scripts/install-deps.sh)"; exit 1; }
bash scripts/package.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_check: FAILED: $*"; exit 1; }
cd build/default
mon=$(ls raidmon_*.deb) gui=$(ls raidgui_*.deb)

# lintian: no error (E:); the warnings left are explained in docs/packaging.md.
for p in "$mon" "$gui" ./*-dbgsym_*.ddeb; do
  lintian --no-cfg --tag-display-limit 0 "$p" 2>&1 | grep -v "running with root privileges" >"$work/lintian.txt" || true
  sed "s/^/  /" "$work/lintian.txt"
  if grep -q "^E: " "$work/lintian.txt"; then fail "lintian reports errors on $p"; fi
done

for p in "$mon" "$gui"; do dpkg-deb -x "$p" "$work/root"; done
for f in raidmon raidctl raidgui; do
  exe="$work/root/usr/bin/$f"
  [ -x "$exe" ] || fail "$f is not in the packages"
  dynamic=$(readelf -d "$exe") symbols=$(readelf -W --dyn-syms "$exe") sections=$(readelf -S "$exe")
  grep -q "BIND_NOW" <<<"$dynamic" || fail "$f: no BIND_NOW"
  grep -q "FLAGS_1.*PIE" <<<"$dynamic" || fail "$f: not PIE"
  grep -qE "__[a-z]+_chk@" <<<"$symbols" || fail "$f: no fortified calls (__*_chk)"
  grep -q "__stack_chk_fail@" <<<"$symbols" || fail "$f: no stack protector"
  ! grep -q "\.debug_info" <<<"$sections" || fail "$f: not stripped"
  [ -s "$work/root/usr/share/man/man1/$f.1.gz" ] || fail "no manual page for $f"
  # The page lists every option the program's --help does.
  page=$(zcat "$work/root/usr/share/man/man1/$f.1.gz" | sed 's/\\-/-/g; s/\\f[BIR]//g')
  for o in $(QT_QPA_PLATFORM=offscreen "$exe" --help 2>&1 | grep -oE -- "--[a-z][a-z-]+" | sort -u); do
    grep -q -- "$o" <<<"$page" || fail "the manual page of $f lacks $o"
  done
done
for p in raidmon raidgui; do
  [ -s "$work/root/usr/share/doc/$p/copyright" ] || fail "$p: no copyright file"
  [ -s "$work/root/usr/share/doc/$p/changelog.Debian.gz" ] || fail "$p: no changelog"
done
ls ./*-dbgsym_*.ddeb >/dev/null 2>&1 || fail "no -dbgsym package"
# The monitor's package pulls in no GUI library.
depends=$(dpkg-deb -f "$mon" Depends)
if grep -qiE "qt|libx11|libgl|libxcb" <<<"$depends"; then fail "raidmon depends on GUI libraries: $depends"; fi
needed=$(readelf -d "$work/root/usr/bin/raidctl" "$work/root/usr/bin/raidmon")
if grep -qi "libQt" <<<"$needed"; then fail "raidctl or raidmon links Qt"; fi
grep -qF "raidmon (= $(dpkg-deb -f "$mon" Version))" <<<"$(dpkg-deb -f "$gui" Depends)" \
  || fail "raidgui does not depend on its raidmon"
echo "package_check: OK ($mon, $gui)"
