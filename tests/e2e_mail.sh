#!/usr/bin/env bash
# End-to-end mail checks: raidctl configures the settings file, sends a test
# mail, and raidmon mails a drive removal of a simulated scenario, all to the
# test SMTP server on 127.0.0.1.
#   e2e_mail.sh RAIDCTL RAIDMON SOURCE_DIR
set -euo pipefail
ctl="$1"; mon="$2"; src="$3"
work="$(mktemp -d)"
# A runtime folder of its own: the single-instance lock of another test's
# simulated run (ctest -j) must not end this one's programs.
export XDG_RUNTIME_DIR="$work"
srv_pid=""
cleanup() {
  exec 9>&- 2>/dev/null || true
  exec 8>&- 2>/dev/null || true
  [ -n "$srv_pid" ] && wait "$srv_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

source "$src/tests/mail/start_smtp_server.sh"
start_smtp_server auth
# The settings folder is named as the user would, from where they stand;
# what is stored in it must name the same files from anywhere else.
cd "$work"
cfg=config

# Nothing stored yet.
"$ctl" mail show --config-dir "$cfg" | grep -q "none stored yet" || fail "mail show on a fresh folder"
"$ctl" test-mail --config-dir "$cfg" >/dev/null && fail "test-mail without settings succeeded"

# Wrong use: exit code 2, nothing written.
set +e
"$ctl" mail set --port 99999 --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "a bad port is not wrong use"
"$ctl" mail set --password s3cret --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "a password on the command line was taken"
set -e
[ ! -e "$cfg/raidgui.conf" ] || fail "wrong use wrote the settings"

# One mail set is one write of the settings file (where strace may trace).
if strace -f -e trace=rename,renameat,renameat2 -o "$work/trace" true 2>/dev/null; then trace=(strace -f -e trace=rename,renameat,renameat2 -o "$work/trace"); else trace=(); fi
echo s3cret | "${trace[@]}" "$ctl" mail set --server 127.0.0.1 --port "$port" --name "RAID Box" --address alerts@example.com \
  --auth on --password-stdin --retry off --config-dir "$cfg"
if [ ${#trace[@]} -gt 0 ]; then
  [ "$(grep -c 'raidgui\.conf") = 0' "$work/trace")" = 1 ] || { cat "$work/trace"; fail "mail set did not write the settings file exactly once"; }
fi
[ "$(stat -c %a "$cfg/raidgui.conf")" = 600 ] || fail "the settings file is not private"
grep -q s3cret "$cfg/raidgui.conf" && fail "the password is stored in clear"
# Every wrong use exits 2 with its reason; nothing is stored.
cp "$cfg/raidgui.conf" "$work/before"
set +e
"$ctl" mail recipients add no-at-sign --config-dir "$cfg" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] && grep -q 'formula error! "no-at-sign" is not a mail address: no "@"' "$work/err" || fail "an address without @ was taken"
"$ctl" mail recipients add 'bad addr@test.example' --config-dir "$cfg" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] && grep -q "a blank in the part before" "$work/err" || fail "an address with a blank was taken"
"$ctl" mail template 1 subject "$work/no-such-file" --config-dir "$cfg" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] && grep -q "no-such-file does not exist" "$work/err" || fail "a missing template file"
printf 'GIF89a\0\0' >"$work/image.gif"
"$ctl" mail template 1 contents "$work/image.gif" --config-dir "$cfg" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] && grep -q "image.gif is not a text file" "$work/err" || fail "a binary file taken as a template"
"$ctl" mail template 1 subject --config-dir "$cfg" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] && grep -q "mail template 1|2 subject|contents FILE" "$work/err" || fail "a template without its file"
"$ctl" mail recipients remove never@example.com --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "removing an address not in the list"
"$ctl" mail set --tls sometimes --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "an unknown TLS policy"
"$ctl" mail set --ca-file "$work/no-such-ca.pem" --config-dir "$cfg" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] && grep -q "does not exist" "$work/err" || fail "a missing CA file"
"$ctl" mail set --ca-file "$work/before" --config-dir "$cfg" 2>"$work/err"; rc=$?
[ $rc -eq 2 ] && grep -q "no certificate in PEM form" "$work/err" || fail "a CA file without certificates"
"$ctl" mail set --address alerts --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "a sender that is no mailbox"
"$ctl" mail set --server 'bad host' --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "a server name with a blank"
"$ctl" mail set --name $'Box\ncc' --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "a sender name with a line break"
"$ctl" mail set --config-dir "$cfg" 2>/dev/null; [ $? -eq 2 ] || fail "mail set without an option"
set -e
cmp -s "$work/before" "$cfg/raidgui.conf" || fail "wrong use changed the settings"
"$ctl" mail recipients add ops@example.com --config-dir "$cfg"
# The same mailbox again (its case aside) would get every mail twice.
"$ctl" mail recipients add OPS@example.com --config-dir "$cfg" 2>"$work/err" && fail "a mailbox in the list was added again"
grep -q "OPS@example.com is already in the list" "$work/err" || fail "a repeated mailbox: $(cat "$work/err")"
"$ctl" mail recipients add dev@example.com --config-dir "$cfg"
"$ctl" mail recipients remove dev@example.com --config-dir "$cfg"
printf 'Drive failure\r\n' > "$work/subject.txt"
"$ctl" mail template 1 subject "$work/subject.txt" --config-dir "$cfg"
(cd / && "$ctl" mail show --config-dir "$work/config") > "$work/show"
grep -q "^SMTP: 127.0.0.1$" "$work/show" && grep -q "^Templates: $work/config/$" "$work/show" && grep -q "^Recipients: 1$" "$work/show" && \
  grep -q "^SMTP Login Authentication: on$" "$work/show" && grep -q "^Password: set$" "$work/show" && \
  grep -q 'subject "Drive failure"' "$work/show" || { cat "$work/show"; fail "mail show"; }
grep -q s3cret "$work/show" && fail "mail show printed the password"

"$ctl" test-mail --config-dir "$cfg" > "$work/test" || { cat "$work/test"; fail "test-mail"; }
grep -q "Send mail Success!" "$work/test" || fail "test-mail did not say success"

# raidmon: hdd2 leaves 5 s into the scenario (run at real speed); the mail
# goes out, also to the recipient added while it runs (the settings are
# read again when they change).
sed 's/"speed": 1000/"speed": 1/; s/"at": 10,/"at": 5,/' "$src/scenarios/removal-rebuild-badsectors.json" >"$work/removal.json"
"$mon" --simulate "$work/removal.json" --duration 7 --log-dir "$work/logs" \
  --config-dir "$cfg" >/dev/null 2>"$work/mon.err" &
mon_pid=$!
sleep 1.5
"$ctl" mail recipients add late@example.com --config-dir "$cfg"
wait "$mon_pid" || { cat "$work/mon.err"; fail "raidmon"; }
grep -q "raidmon: Send mail Success!" "$work/mon.err" || { cat "$work/mon.err"; fail "raidmon sent no mail"; }

/usr/bin/python3 - "$work/mails.jsonl" <<'PY' || fail "the mails received"
import json, sys
mails = [json.loads(l) for l in open(sys.argv[1])]
assert len(mails) == 2, len(mails)
test, removal = mails
for m in mails:
    assert m["mail_from"] == "alerts@example.com", m
    assert m["login"] == "alerts", m
assert test["rcpt_tos"] == ["ops@example.com"], test
assert removal["rcpt_tos"] == ["ops@example.com", "late@example.com"], removal
assert "Subject: [RAID GUI v0.23-1 Message] Test mail\r\n" in test["data"]
assert "Subject: [RAID GUI v0.23-1 Message] Drive failure\r\n" in removal["data"]
assert "\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\nDevice1 information :\r\n" in removal["data"]
PY
# Stopping raidmon while the server hangs: bounded (about 10 s for the
# mail), the mail named in the day log and, with retries on, kept and sent
# at the next start.
mkfifo "$work/hang.in"
/usr/bin/python3 "$src/tests/mail/smtp_server.py" hang "$work/hang.jsonl" <"$work/hang.in" >"$work/hang.port" 2>/dev/null &
hang_pid=$!
exec 8>"$work/hang.in"
for _ in $(seq 100); do grep -q PORT "$work/hang.port" 2>/dev/null && break; sleep 0.1; done
"$ctl" mail set --port "$(cut -d' ' -f2 "$work/hang.port")" --timeout 90 --retry on --config-dir "$cfg"
sed 's/"speed": 1000/"speed": 1/; s/"at": 10,/"at": 3,/' "$src/scenarios/removal-rebuild-badsectors.json" >"$work/early.json"
"$mon" --simulate "$work/early.json" --duration 120 --log-dir "$work/logs2" --config-dir "$cfg" >/dev/null 2>"$work/mon2.err" &
mon_pid=$!
sleep 10
start=$SECONDS
kill -TERM "$mon_pid"
wait "$mon_pid" || { cat "$work/mon2.err"; fail "raidmon stopped while the server hangs"; }
[ $((SECONDS - start)) -le 14 ] || fail "raidmon took $((SECONDS - start)) s to stop while the server hangs"
exec 8>&-
wait "$hang_pid" 2>/dev/null || true
grep -rqF 'Mail: the notification "[RAID GUI v0.23-1 Message] Drive failure" (Device1 P1 Hard Disk Drive fail.) was not sent before the program ended; it is sent again at the next start' "$work/logs2" ||
  { cat "$work/logs2"/* "$work/mon2.err"; fail "the day log does not name the mail left unsent"; }
[ -f "$work/logs2/unsent-mail.simulated.conf" ] || fail "the unsent notification was not kept"
"$ctl" mail set --port "$port" --config-dir "$cfg"
"$mon" --simulate "$src/scenarios/rebuilding.json" --duration 3 --log-dir "$work/logs2" --config-dir "$cfg" >/dev/null 2>"$work/mon3.err" ||
  { cat "$work/mon3.err"; fail "raidmon after the stop"; }
[ ! -e "$work/logs2/unsent-mail.simulated.conf" ] || fail "the kept notification is still there"
grep -rqF 'kept at the last exit is sent now' "$work/logs2" || fail "the day log does not say the kept mail went out"
/usr/bin/python3 - "$work/mails.jsonl" <<'PY' || fail "the kept mail was not received"
import json, sys
mails = [json.loads(l) for l in open(sys.argv[1])]
assert len(mails) == 3, len(mails)
assert "\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\n" in mails[2]["data"], mails[2]["data"][:400]
PY
# A stored text (raidctl refuses it; written by hand) cannot fake lines of
# mail show's or steer the terminal.
sed -i 's/^"UserName"=.*/"UserName"="Box\\r\\nSMTP: evil.example\\x1b[31m"/' "$cfg/raidgui.conf"
"$ctl" mail show --config-dir "$cfg" >"$work/show.txt"
grep -qxF 'Name: Box\r\nSMTP: evil.example\x1B[31m' "$work/show.txt" || fail "mail show: $(cat -A "$work/show.txt")"
[ "$(grep -c '^SMTP: ' "$work/show.txt")" -eq 1 ] || fail "a stored name faked a line"
# Settings another user keeps (root's folder, 0700): said, with what to do,
# never shown as if nothing were stored.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  mkdir -p "$work/shared" && chmod 0755 "$work" "$work/shared"
  "$ctl" mail set --server 127.0.0.1 --config-dir "$work/shared/etc"
  chmod 0700 "$work/shared/etc"
  set +e
  setpriv --reuid=65534 --regid=65534 --clear-groups "$ctl" mail show --config-dir "$work/shared/etc" \
    >"$work/user.out" 2>"$work/user.err"
  rc=$?
  set -e
  [ "$rc" -eq 1 ] || fail "mail show of unreadable settings ended with $rc: $(cat "$work/user.out" "$work/user.err")"
  grep -q "cannot read the settings file $work/shared/etc/raidgui.conf: .*--config-dir FOLDER" "$work/user.err" \
    || fail "unreadable settings: $(cat "$work/user.err")"
  ! grep -q "none stored yet" "$work/user.out" || fail "unreadable settings shown as none stored"
fi
echo "e2e mail: ok"
