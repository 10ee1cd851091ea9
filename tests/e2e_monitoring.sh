#!/usr/bin/env bash
# The monitoring definitions in docs/monitoring checked by the engines
# themselves: the Prometheus alert rules by promtool (check rules, and the
# unit test tests/data/monitoring/raidgui.rules.test.yml that makes each alert
# fire), the Icinga 2 check command and service by `icinga2 daemon -C` on a
# minimal configuration. Every raidgui_* name the rules use is one raidmon
# --metrics-file writes. A tool that is missing is said and its part skipped
# (code 77 when none is there); scripts/install-deps.sh installs both. The
# Nagios definitions are not checked (see docs/monitoring/raidgui-nagios.cfg).
set -euo pipefail
mon="$1"; src="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "$*"; exit 1; }
checked=0

if command -v promtool >/dev/null; then
  promtool check rules "$src/docs/monitoring/raidgui.rules.yml" >"$work/promtool.txt" 2>&1 ||
    fail "promtool check rules: $(cat "$work/promtool.txt")"
  (cd "$src/tests/data/monitoring" && promtool test rules raidgui.rules.test.yml) >"$work/promtool.txt" 2>&1 ||
    fail "promtool test rules: $(cat "$work/promtool.txt")"
  # The names the rules use are those the program writes (a rebuild with the
  # fan and temperature shown has every family).
  printf '{"clock":{"speed":100},"enclosures":[{"name":"E1","status":%s}],"disks":[{"drive":0,"enclosure":"E1"}]}\n' \
    '{"hdd1":"present","hdd2":"present","activity":2,"progress":40}' >"$work/rebuild.json"
  "$mon" --simulate "$work/rebuild.json" --duration 10 --log-dir "$work/logs" --metrics-file "$work/raidgui.prom" \
    >"$work/mon.out" 2>&1 || fail "raidmon: $(cat "$work/mon.out")"
  for name in $(grep -o 'raidgui_[a-z_]*' "$src/docs/monitoring/raidgui.rules.yml" | sort -u); do
    grep -q "^# TYPE $name " "$work/raidgui.prom" || fail "the rules use $name, which raidmon does not write"
  done
  echo "promtool: the alert rules pass check and their unit test"
  checked=$((checked + 1))
else
  echo "no promtool (Debian package prometheus): the alert rules are not checked"
fi

if command -v icinga2 >/dev/null; then
  mkdir -p "$work/icinga/cache" "$work/icinga/log" "$work/icinga/data" "$work/icinga/spool" "$work/icinga/run"
  cat >"$work/icinga/icinga2.conf" <<EOF
include <itl>
template Service "generic-service" { max_check_attempts = 3 }
object Host "storage1" {
  check_command = "dummy"
  vars.raidgui = true
  vars.raidgui_expect = 2
}
object Host "workstation" { check_command = "dummy" }
include "$src/docs/monitoring/raidgui-icinga2.conf"
EOF
  i="$work/icinga"
  icinga2 daemon -C -c "$i/icinga2.conf" -DRunAsUser="$(id -un)" -DRunAsGroup="$(id -gn)" -DCacheDir="$i/cache" \
    -DLogDir="$i/log" -DDataDir="$i/data" -DSpoolDir="$i/spool" -DInitRunDir="$i/run" >"$i/out.txt" 2>&1 ||
    fail "icinga2 daemon -C: $(cat "$i/out.txt")"
  # The service is applied to the host that asks for it, and only there.
  grep -q "Instantiated 1 Service" "$i/out.txt" || fail "icinga2: $(cat "$i/out.txt")"
  grep -q "Finished validating the configuration" "$i/out.txt" || fail "icinga2: $(cat "$i/out.txt")"
  echo "icinga2: the check command and service pass daemon -C"
  checked=$((checked + 1))
else
  echo "no icinga2 (Debian package icinga2-bin): the Icinga 2 definitions are not checked"
fi

[ "$checked" -gt 0 ] || { echo "neither promtool nor icinga2 here: skipped"; exit 77; }
