#!/usr/bin/env bash
# The mail settings through the monitor service: raidctl's mail commands and
# test-mail with --service print what they print standalone on a settings
# folder of their own (the folder's name aside), with the same exit codes
# (a CA file among them, checked by the client);
# the monitor mails a drive removal with the settings its clients stored.
#   e2e_listen_mail.sh RAIDCTL RAIDMON SOURCE_DIR
set -euo pipefail
ctl="$1"; mon="$2"; src="$3"
work=$(mktemp -d)
srv_pid=""; mon_pid=""
cleanup() {
  [ -n "$mon_pid" ] && kill -TERM "$mon_pid" 2>/dev/null
  exec 9>&- 2>/dev/null || true
  [ -n "$srv_pid" ] && wait "$srv_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work"
fail() { echo "e2e_listen_mail: $*"; exit 1; }

source "$src/tests/mail/start_smtp_server.sh"
start_smtp_server auth

# The monitor, at real speed: hdd2 leaves 14 s in.
sed 's/"speed": 1000/"speed": 1/; s/"at": 10,/"at": 14,/' "$src/scenarios/removal-rebuild-badsectors.json" >"$work/removal.json"
sock="$work/raidmon.sock"
"$mon" --simulate "$work/removal.json" --duration 25 --log-dir "$work/logs" --config-dir "$work/served" \
  --listen "$sock" >/dev/null 2>"$work/mon.err" &
mon_pid=$!
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || fail "no socket: $(cat "$work/mon.err")"

printf 'Drive failure\r\n' >"$work/subject.txt"
# A CA file is checked by raidctl, as the user; the service keeps its name.
printf -- '-----BEGIN CERTIFICATE-----\n' >"$work/ca.pem"
commands=("mail show" "test-mail" "mail set --port 99999" "mail recipients add no-at-sign"
  "mail set --server 127.0.0.1 --port $port --name Box --address alerts@example.com --auth on --password-stdin"
  "mail recipients add ops@example.com" "mail template 1 subject $work/subject.txt"
  "mail template 2 subject $work/missing.txt" "mail show" "test-mail"
  "mail set --ca-file $work/ca.pem" "mail set --ca-file $work/subject.txt" "mail show")
for c in "${commands[@]}"; do
  set +e
  # shellcheck disable=SC2086
  "$ctl" $c --config-dir "$work/alone" <<<s3cret >"$work/alone.out" 2>"$work/alone.err"
  want=$?
  # shellcheck disable=SC2086
  "$ctl" $c --service "$sock" <<<s3cret >"$work/served.out" 2>"$work/served.err"
  got=$?
  set -e
  sed -i "s#$work/alone#FOLDER#g; s#$work/served#FOLDER#g" "$work/alone.out" "$work/served.out"
  [ "$got" -eq "$want" ] || fail "$c: exit $got through the service, $want standalone: $(cat "$work/served.err")"
  cmp -s "$work/alone.out" "$work/served.out" || fail "$c: $(diff "$work/alone.out" "$work/served.out")"
  cmp -s "$work/alone.err" "$work/served.err" || fail "$c: $(diff "$work/alone.err" "$work/served.err")"
  [ "$c" != test-mail ] || cp "$work/served.out" "$work/testmail.out"
done
grep -q "Send mail Success!" "$work/testmail.out" || fail "the test mail through the service: $(cat "$work/testmail.out")"
"$ctl" mail show --service "$sock" --config-dir "$work/alone" >/dev/null 2>&1 && fail "--service with --config-dir"

# The removal is mailed with the settings stored through the service.
for _ in $(seq 250); do [ "$(wc -l <"$work/mails.jsonl")" -ge 3 ] && break; sleep 0.1; done
/usr/bin/python3 - "$work/mails.jsonl" <<'PY' || fail "the mails received: $(cat "$work/mon.err")"
import json, sys
mails = [json.loads(l) for l in open(sys.argv[1])]
assert len(mails) == 3, len(mails)
assert all(m["rcpt_tos"] == ["ops@example.com"] and m["login"] == "alerts" for m in mails), mails
assert "Subject: [RAID GUI v0.23-1 Message] Drive failure\r\n" in mails[2]["data"], mails[2]["data"][:300]
PY
echo "e2e_listen_mail: ok"
