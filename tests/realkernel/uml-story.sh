#!/usr/bin/env bash
# A story through a real kernel: the scenario's disks served by
# raid-tcmu-responder as SCSI disks of a user-mode-linux guest, watched by
# raidmon on the real disks (SG_IO, libudev) for SECONDS. Its day log and
# output, date-times masked, must equal the same scenario played in-process
# with --simulate; its read-only opens must cause no udev `change` event; and
# where the kernel or udev sent commands of their own while raidmon ran (a
# disk plugged in, or --disturb), they are counted between the program's.
#
#   uml-story.sh RAID_TCMU_RESPONDER RAIDMON SOURCE_DIR SCENARIO SECONDS [OPTION...]
#
#   --disturb        the kernel revalidates and reads the disks while raidmon
#                    runs (story-detect.sh); its commands must stand between
#                    the program's
#   --no-rawio       raidmon also runs as root without CAP_SYS_RAWIO and must
#                    say that no drive was found and why
#   --mail RAIDCTL   both runs mail to a test SMTP server (in the guest on its
#                    127.0.0.1); the mails, date-times and the machine's own
#                    system information masked, must be equal
#   --expect TEXT    the day log must have a line with TEXT (so that the
#                    story cannot pass with both runs having missed it)
#
# Exits 77 with one line saying why when this machine cannot run the guest.
# RAID_STORY_KEEP=DIR keeps the run's files (both day logs, the responder's
# log and trace, the guest's udev events) in DIR instead of deleting them.
set -uo pipefail
responder="$(realpath "$1")"
raidmon="$(realpath "$2")"
src="$(realpath "$3")"
scenario="$(realpath "$4")"
seconds="$5"
shift 5
disturb=0 norawio=0 raidctl=
expects=()
while [ $# -gt 0 ]; do
  case "$1" in
    --disturb) disturb=1 ;;
    --no-rawio) norawio=1 ;;
    --mail)
      raidctl="$(realpath "$2")"
      shift
      ;;
    --expect)
      expects+=("$2")
      shift
      ;;
    *)
      echo "uml-story: unknown option $1" >&2
      exit 2
      ;;
  esac
  shift
done
guest_options=()
[ "$disturb" = 1 ] && guest_options+=(--disturb)
[ "$norawio" = 1 ] && guest_options+=(--no-rawio)
[ -n "$raidctl" ] && guest_options+=(--mail "$raidctl" "$src/tests/mail/smtp_server.py")

if [ -n "${RAID_STORY_KEEP:-}" ]; then
  mkdir -p "$RAID_STORY_KEEP"
  work="$(realpath "$RAID_STORY_KEEP")"
else
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/sim/log"

# The in-process run's mail server, on this machine's 127.0.0.1.
server=
if [ -n "$raidctl" ]; then
  mkfifo "$work/smtp.in"
  /usr/bin/python3 "$src/tests/mail/smtp_server.py" relay "$work/sim/mails.jsonl" <"$work/smtp.in" \
    >"$work/smtp.port" 2>/dev/null &
  server=$!
  exec 9>"$work/smtp.in"
  for _ in $(seq 100); do
    grep -q PORT "$work/smtp.port" 2>/dev/null && break
    sleep 0.1
  done
  "$raidctl" mail set --server 127.0.0.1 --port "$(cut -d' ' -f2 "$work/smtp.port")" --name "RAID Box" \
    --address alerts@example.com --auth off --retry off --config-dir "$work/sim" >/dev/null &&
    "$raidctl" mail recipients add ops@example.com --config-dir "$work/sim" >/dev/null || {
    echo "uml-story: the in-process mail settings were not written" >&2
    exit 1
  }
fi
XDG_RUNTIME_DIR="$work/sim" "$raidmon" --simulate "$scenario" --duration "$seconds" --log-dir "$work/sim/log" \
  --config-dir "$work/sim" >"$work/sim/stdout.txt" 2>"$work/sim/stderr.txt" || {
  echo "uml-story: the in-process run failed" >&2
  cat "$work/sim/stderr.txt" >&2
  exit 1
}
if [ -n "$server" ]; then
  exec 9>&-
  wait "$server"
fi

t0=$(date +%s.%N)
rc=0
bash "$src/tests/realkernel/uml-run.sh" --timeout 120 "$work" "$src/tests/realkernel/story-detect.sh" \
  "$responder" "$raidmon" "$scenario" "$seconds" "$work/real" "${guest_options[@]}" >"$work/console.txt" 2>&1 || rc=$?
t1=$(date +%s.%N)
if [ "$rc" -eq 77 ]; then
  grep -m1 'SKIP' "$work/console.txt"
  exit 77
fi
if [ "$rc" -ne 0 ]; then
  echo "uml-story: the guest run failed ($rc)" >&2
  cat "$work/console.txt" "$work/real/stderr.txt" >&2 2>/dev/null
  tail -40 "$work/real/responder.log" >&2 2>/dev/null
  exit 1
fi

mask() { sed -E 's#[0-9]{2}/[0-9]{2}/[0-9]{2} +[0-9]{1,2}:[0-9]{2}:[0-9]{2}#<date-time>#g' "$@"; }
fail=0
if ! diff -u <(mask "$work"/sim/log/*.log) <(mask "$work"/real/log/*.log); then
  echo "uml-story: the day log through the kernel differs from the in-process one" >&2
  fail=1
fi
for want in "${expects[@]}"; do
  if ! grep -qF -- "$want" "$work"/real/log/*.log; then
    echo "uml-story: the day log has no line with '$want'" >&2
    fail=1
  fi
done
if ! diff -u <(mask "$work/sim/stdout.txt") <(mask "$work/real/stdout.txt"); then
  echo "uml-story: raidmon's output through the kernel differs from the in-process one" >&2
  fail=1
fi
# The disks were there, the program's vendor CDBs and the kernel's own
# housekeeping reached the responder, and a plain disk on drive 1 declined
# them.
wants=('pd0 FE 8B .* -> GOOD 512' 'pd0 25 00 .* -> GOOD 8' 'pd0 1A 00 3F ')
if grep -q '{"drive": 1}' "$scenario"; then
  wants+=('pd1 FE 8B .* -> CHECK 05/20/00')
  if ! grep -qx 'sda' "$work/real/disks.txt" || ! grep -qx 'sdb' "$work/real/disks.txt"; then
    echo "uml-story: the guest did not show sda and sdb" >&2
    fail=1
  fi
fi
for want in "${wants[@]}"; do
  if ! grep -q "$want" "$work/real/responder.log"; then
    echo "uml-story: no '$want' in the responder's log" >&2
    fail=1
  fi
done
# The program opens the disks read-only: udev saw no `change` event of a
# block device while it ran (a read-write open would have caused one, and a
# partition re-read after it). Disks plugged or unplugged give add/remove.
changes=$(grep -c ' change ' "$work/real/udev.txt")
if ! grep -q '^UDEV' "$work/real/udev.txt" && ! grep -q 'monitor will print' "$work/real/udev.txt"; then
  echo "uml-story: udev's events were not watched" >&2
  fail=1
elif grep -q '"plug"' "$scenario" && ! grep -qE ' (add|remove) ' "$work/real/udev.txt"; then
  echo "uml-story: udev saw no add or remove event of the plugged disks" >&2
  fail=1
elif [ "$changes" -ne 0 ]; then
  echo "uml-story: udev saw $changes change events while raidmon ran:" >&2
  grep ' change ' "$work/real/udev.txt" >&2
  fail=1
fi
events="$(grep -cE ' (add|remove) ' "$work/real/udev.txt") add/remove events, no change event"
# The kernel's and udev's own commands (TEST UNIT READY, READ CAPACITY, MODE
# SENSE, VPD INQUIRYs, page-cache READ(10)s of 4 KiB) between the program's
# first and last command of its own (vendor CDBs, ATA PASS-THROUGH(16)); the
# day log above shows they did not disturb detection or polling.
between=$(awk '
  $3 == "FE" || ($3 == "85" && $4 == "08") { n = NR; held += pending; pending = 0; if (!first) first = NR; next }
  !first { next }
  $3 == "00" || $3 == "25" || $3 == "9E" || $3 == "1A" || $3 == "5A" || ($3 == "12" && $4 != "00") ||
    ($3 == "28" && / IN 4096 /) { pending++ }
  END { print held + 0 }' "$work/real/responder.log")
if { [ "$disturb" = 1 ] || grep -q '"plug"' "$scenario"; } && [ "$between" -eq 0 ]; then
  echo "uml-story: none of the kernel's own commands came between the program's" >&2
  fail=1
fi
if [ "$norawio" = 1 ]; then
  nr="$work/real/norawio"
  if [ "$(cat "$nr/rc" 2>/dev/null)" != 0 ] || ! grep -q "No Drive found!" "$nr/stderr.txt" ||
    ! grep -qF "raw device access needs the CAP_SYS_RAWIO capability, which this root process lacks" "$nr/stderr.txt"; then
    echo "uml-story: raidmon without CAP_SYS_RAWIO ended with $(cat "$nr/rc" 2>/dev/null) and said:" >&2
    cat "$nr/stdout.txt" "$nr/stderr.txt" >&2
    fail=1
  fi
fi
if [ -n "$raidctl" ]; then
  # The mails: recipients, subject and body; the date-times and the block of
  # the machine's own system information (name, addresses, board) masked.
  mails() {
    /usr/bin/python3 - "$1" <<'PY'
import json, re, sys
try:
    lines = open(sys.argv[1]).read().splitlines()
except OSError:
    lines = []
for line in lines:
    m = json.loads(line)
    head, _, body = m["data"].partition("\r\n\r\n")
    subject = [h for h in head.split("\r\n") if h.startswith("Subject:")]
    body = re.sub(r"^(MotherBoard|System Name|IP Address)( *:).*$", r"\1\2 <this machine>", body, flags=re.M)
    print("To:", " ".join(m["rcpt_tos"]), *subject, sep="\n")
    print(body.replace("\r\n", "\n"))
PY
  }
  mails "$work/sim/mails.jsonl" | mask >"$work/sim/mails.txt"
  mails "$work/real/mails.jsonl" | mask >"$work/real/mails.txt"
  if [ ! -s "$work/sim/mails.txt" ]; then
    echo "uml-story: the in-process run sent no mail" >&2
    fail=1
  elif ! diff -u "$work/sim/mails.txt" "$work/real/mails.txt"; then
    echo "uml-story: the mails through the kernel differ from the in-process ones" >&2
    fail=1
  fi
  events="$events, $(grep -c '^To:' "$work/real/mails.txt") mail(s) equal"
fi
# A story with a hang: the responder held the request until the kernel's
# error handler aborted it, and the program said the same as in-process.
if grep -q '"mode": "hang"' "$scenario"; then
  for want in 'held (no answer)' 'aborted by the host'; do
    if ! grep -q "$want" "$work/real/responder.log"; then
      echo "uml-story: no '$want' in the responder's log" >&2
      fail=1
    fi
  done
  folders() { sed -E 's#^raidmon: day log folder: .*#raidmon: day log folder: <folder>#' "$@"; }
  if ! diff -u <(folders "$work/sim/stderr.txt") <(folders "$work/real/stderr.txt"); then
    echo "uml-story: raidmon's messages through the kernel differ from the in-process ones" >&2
    fail=1
  fi
fi
if [ "$fail" -ne 0 ]; then
  cat "$work/console.txt" >&2
  exit 1
fi
echo "uml-story: $(basename "$scenario"): same day log and output through user-mode-linux; $events; $between of the kernel's own commands between the program's; guest $(printf '%.1f' "$(echo "$t1 - $t0" | bc)") s in all ($(cat "$work/real/timing.txt"))"
