#!/usr/bin/env bash
# End-to-end TLS checks of raidctl's mail against the test SMTP server, with
# a private certificate authority made here: STARTTLS trusted through the
# stored CA file, the "required" policy refusing a server that hides
# STARTTLS before any login, and TLS from the first byte on any port.
#   e2e_mail_tls.sh RAIDCTL SOURCE_DIR
set -euo pipefail
ctl="$(realpath "$1")"; src="$(realpath "$2")"
work="$(mktemp -d)"
# A runtime folder of its own: the single-instance lock of another test's
# simulated run (ctest -j) must not end this one's programs.
export XDG_RUNTIME_DIR="$work"
pids=(); fds=()
cleanup() {
  for fd in "${fds[@]}"; do exec {fd}>&- 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"

# The private CA and a certificate it signs for 127.0.0.1.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=RAID test private CA" -keyout ca.key -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key -out server.csr >/dev/null 2>&1
printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out server.pem \
  -extfile server.ext >/dev/null 2>&1 || fail "the test certificates could not be made"

# start NAME MODE [CERT KEY]: a test server that ends when its input closes;
# its port is left in $port.
start() {
  local name="$1"; shift
  mkfifo "$name.in"
  /usr/bin/python3 "$src/tests/mail/smtp_server.py" "$1" "$work/$name.jsonl" "${@:2}" <"$name.in" >"$name.port" 2>/dev/null &
  pids+=($!)
  local fd
  exec {fd}>"$name.in"
  fds+=("$fd")
  for _ in $(seq 100); do grep -q PORT "$name.port" 2>/dev/null && break; sleep 0.1; done
  port="$(cut -d' ' -f2 "$name.port")"
  [ -n "$port" ] || fail "the $name server did not start"
}
start starttls tls server.pem server.key; starttls_port=$port
start plain auth; plain_port=$port
start implicit implicit server.pem server.key; implicit_port=$port
cfg="$work/config"
echo s3cret | "$ctl" mail set --server 127.0.0.1 --port "$starttls_port" --address alerts@example.com \
  --auth on --password-stdin --config-dir "$cfg"
"$ctl" mail recipients add ops@example.com --config-dir "$cfg"
# Stored before these settings existed: the system's store and auto.
"$ctl" mail show --config-dir "$cfg" >show
grep -q "^CA file: none (the system's certificate store)$" show && grep -q "^TLS: auto$" show || { cat show; fail "defaults"; }

testmail() { set +e; "$ctl" test-mail --config-dir "$cfg" >out 2>&1; rc=$?; set -e; }

# STARTTLS offered: a certificate of the private CA is not trusted ...
testmail
[ $rc -eq 1 ] && grep -q "certificate of 127.0.0.1 could not be verified" out && grep -q -- "--ca-file" out ||
  { cat out; fail "an unknown CA was trusted"; }
# ... until the CA file is stored (by its absolute path).
"$ctl" mail set --ca-file ca.pem --config-dir "$cfg"
"$ctl" mail show --config-dir "$cfg" | grep -qx "CA file: $work/ca.pem" || fail "mail show: the CA file"
testmail
[ $rc -eq 0 ] || { cat out; fail "STARTTLS with the stored CA file"; }
/usr/bin/python3 -c "import json,sys; m=[json.loads(l) for l in open(sys.argv[1])]; assert len(m)==1 and m[0]['tls'], m" \
  starttls.jsonl || fail "the mail did not go over TLS"

# required: a server that hides STARTTLS gets neither the login nor the mail.
"$ctl" mail set --tls required --port "$plain_port" --config-dir "$cfg"
testmail
[ $rc -eq 1 ] && grep -q "offers no STARTTLS and the TLS policy is \"required\": neither the login nor the mail" out ||
  { cat out; fail "required sent without TLS"; }
[ ! -e plain.jsonl.logins ] && [ ! -e plain.jsonl ] || fail "the server without STARTTLS saw a login or a mail"
# auto (today's behaviour) still uses such a server.
"$ctl" mail set --tls auto --config-dir "$cfg"
testmail
[ $rc -eq 0 ] && [ -e plain.jsonl ] || { cat out; fail "auto against a server without STARTTLS"; }

# implicit: TLS from the first byte on a port that is not 465 ...
"$ctl" mail set --tls implicit --port "$implicit_port" --config-dir "$cfg"
"$ctl" mail show --config-dir "$cfg" | grep -qx "TLS: implicit" || fail "mail show: the policy"
testmail
[ $rc -eq 0 ] || { cat out; fail "implicit TLS"; }
/usr/bin/python3 -c "import json,sys; m=[json.loads(l) for l in open(sys.argv[1])]; assert len(m)==1 and m[0]['login']=='alerts', m" \
  implicit.jsonl || fail "the implicit TLS server got no mail"
# ... and a clear reason against a server that starts in plain text.
"$ctl" mail set --port "$starttls_port" --config-dir "$cfg"
testmail
[ $rc -eq 1 ] && grep -q "TLS could not be set up with 127.0.0.1 port $starttls_port" out ||
  { cat out; fail "implicit TLS against a plain-text start"; }
echo "e2e mail TLS: ok"
