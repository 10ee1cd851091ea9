#!/usr/bin/env bash
# The one-copy rule on the real disks holds whatever the user or the
# environment: root's monitor holds the machine's lock in the root-owned
# /run/raidgui; a second root copy with another XDG_RUNTIME_DIR leaves at
# once; a lock file planted in /tmp (where the lock used to be) blocks
# nothing; another local user can neither open the machine's lock nor take
# the log folder's writer lock, and their own copy keeps to their own lock;
# a copy killed with SIGKILL leaves nothing that blocks the next start.
# Runs as root in a mount namespace of its own, with private /run and /tmp
# and no disks in /sys/block, so the machine's real lock and disks are
# never touched. Skipped (77) where that cannot be had.
set -euo pipefail
mon="$1"
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || ! command -v setpriv >/dev/null ||
  ! unshare -m true 2>/dev/null; then
  echo "e2e_locks: needs root, unshare and setpriv: skipped"
  exit 77
fi
work=$(mktemp -d /var/tmp/raid-locks.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

unshare -m bash -s "$mon" "$work" <<'INNER'
set -euo pipefail
mon="$1"; work="$2"
fail() { echo "e2e_locks: $*"; exit 1; }
mount --make-rprivate /
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /sys/block
export LC_ALL=C
nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }

# A lock file planted where the lock used to be, by another user.
nobody touch /tmp/QV_GUI-0.lock
mkdir -p "$work/root-logs" "$work/second-logs" "$work/user-logs" "$work/user-run"
chown 65534:65534 "$work/user-logs" "$work/user-run"

"$mon" --log-dir "$work/root-logs" --duration 30 >"$work/root.out" 2>"$work/root.err" &
pid=$!
for _ in $(seq 100); do grep -q "day log folder" "$work/root.err" && break; sleep 0.1; done
grep -q "day log folder" "$work/root.err" || fail "root's monitor did not start: $(cat "$work/root.err")"
lock=/run/raidgui/QV_GUI.lock
[ -f "$lock" ] || fail "no machine lock at $lock"
[ "$(stat -c %U:%a /run/raidgui)" = root:755 ] || fail "the lock folder is $(stat -c %U:%a /run/raidgui)"
if flock -n "$lock" true; then fail "the machine lock is not held"; fi

# Root again, as from a root shell of another session: it leaves at once
# and writes nothing.
set +e
XDG_RUNTIME_DIR=/run/user/0 timeout 10 "$mon" --log-dir "$work/second-logs" --duration 30 \
  >"$work/second.out" 2>"$work/second.err"
rc=$?
set -e
[ "$rc" -eq 0 ] || fail "the second root copy: exit $rc $(cat "$work/second.err")"
if grep -q "day log folder" "$work/second.err"; then fail "the second root copy ran"; fi

# Another user can neither open nor replace the machine's lock, nor block
# the log folder: its writer lock is a file of root's inside it.
if nobody sh -c "exec 9<'$lock'" 2>/dev/null; then fail "another user opened the machine lock"; fi
if nobody touch /run/raidgui/planted 2>/dev/null; then fail "another user wrote into /run/raidgui"; fi
logLock=$(find "$work/root-logs" -maxdepth 1 -name '.*lock*' | head -1)
[ -n "$logLock" ] || fail "no writer lock file in the log folder"
[ "$(stat -c %a "$logLock")" = 600 ] || fail "the log folder's lock is $(stat -c %a "$logLock")"
if nobody sh -c "exec 9<'$logLock'" 2>/dev/null; then fail "another user opened the log folder's lock"; fi
nobody flock -n "$work/root-logs" true || fail "a lock on the folder itself was refused"

# Their own copy keeps to their own lock: it starts beside root's.
set +e
XDG_RUNTIME_DIR="$work/user-run" nobody timeout 20 "$mon" --log-dir "$work/user-logs" --duration 2 \
  >"$work/user.out" 2>"$work/user.err"
rc=$?
set -e
grep -q "day log folder" "$work/user.err" || fail "another user's own copy: exit $rc $(cat "$work/user.err")"
kill -0 "$pid" 2>/dev/null || fail "root's monitor ended: $(cat "$work/root.err")"

# A copy killed outright leaves nothing behind that blocks the next one.
{ kill -KILL "$pid"; wait "$pid"; } 2>/dev/null || true
"$mon" --log-dir "$work/root-logs" --duration 1 >/dev/null 2>"$work/again.err" ||
  fail "after a kill: $(cat "$work/again.err")"
grep -q "day log folder" "$work/again.err" || fail "after a kill the next copy did not run: $(cat "$work/again.err")"
echo "e2e_locks: ok"
INNER
