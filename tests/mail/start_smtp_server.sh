# Sourced by the mail stories. start_smtp_server MODE starts the test SMTP
# server (smtp_server.py) in MODE on 127.0.0.1, writing the mails it takes
# to $work/mails.jsonl; it ends when file descriptor 9 closes. Sets port and
# srv_pid; needs $work, $src and fail.
start_smtp_server() {
  mkfifo "$work/in"
  /usr/bin/python3 "$src/tests/mail/smtp_server.py" "$1" "$work/mails.jsonl" <"$work/in" >"$work/port" 2>/dev/null &
  srv_pid=$!
  exec 9>"$work/in"
  for _ in $(seq 100); do grep -q PORT "$work/port" 2>/dev/null && break; sleep 0.1; done
  port="$(cut -d' ' -f2 "$work/port")"
  [ -n "$port" ] || fail "the SMTP server did not start"
}
