#!/usr/bin/env bash
# The Windows programs' own code run under wine (Debian's wine64):
#   instance  one copy at a time through the named mutex: a second raidmon
#             ends at once with code 0 and says nothing, a raidgui says that
#             the monitor runs, raidctl says the enclosures are busy (code 3);
#             the first copy ends cleanly;
#   registry  raidctl's mail settings land in HKEY_LOCAL_MACHINE with their
#             exact types and read back; a value of the wrong type is refused;
#   wmi       the system information block: the main board from
#             Win32_BaseBoard, and no Win32_Bus rows (as under wine) give an
#             empty system name, not an error;
#   daylog    raidmon --simulate writes the day log with CR LF line ends and
#             the same lines as on Linux, dates and times in the user's
#             locale (wine's en-US: 5/3/2010 11:58:13 PM for 05/03/10 23:58:13);
#   image     raidctl make-image gives the same bytes as the Linux raidctl;
#   devices   raidmon on the machine's own disks (wine's, none an enclosure):
#             it takes device notifications through its hidden window,
#             finds no drive, ends on time and cleanly;
#   pipe      raidmon --listen on a named pipe: raidgui shows it, raidctl status, list and
#             schedule off through it print what they print standalone, with
#             the same exit codes; a line that is no request, one over the
#             length limit and a client gone mid-line (tests/windows/
#             pipe_abuse.cpp) hurt nobody; a second service at the same name
#             is refused; the pipe is gone when raidmon ends;
#   installer the installer of scripts/package-windows.sh (when it has been
#             made) installs silently with Start menu entries, its
#             uninstall entry and the monitor service, which answers on its
#             pipe; its uninstaller removes them all;
#   window    under Xvfb the window is drawn to PNG files by the render tool,
#             and raidgui --simulate runs, closes on a close request and
#             saves its day log.
# Usage: e2e_windows.sh WINDOWS_BUILD_DIR SOURCE_DIR LINUX_RAIDCTL [CASE...]
# Every wine run has a time-out: the Qt windows platform can hang at exit
# without an X server, and a missing plugin opens a box that waits for ever.
set -euo pipefail
winbuild=$(realpath "$1"); src=$(realpath "$2"); linuxctl=$(realpath "$3"); shift 3
cases=("$@")
[ "${#cases[@]}" -gt 0 ] || cases=(instance registry wmi daylog image devices pipe installer window)
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine64" ] || { echo "wine64 is not installed (scripts/install-deps.sh)"; exit 1; }

stage="$winbuild/wine-stage"
work=$(mktemp -d)
export WINEPREFIX="$winbuild/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C
unset QT_QPA_PLATFORM
xvfb_pid=
cleanup() {
  # Only what this run started: its Xvfb and this prefix's wine server.
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL $current: $*"; failures=$((failures + 1)); }
# A Windows path for a file of this machine (wine's drive Z: is /).
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
# A Linux day log's dates and times (MM/DD/YY HH:MM:SS) as the Windows
# program writes them in wine's en-US locale (M/D/YYYY h:MM:SS AM).
in_locale() {
  python3 -c '
import re, sys
def f(m):
    mo, d, y, h, mi, s = (int(x) for x in m.groups())
    return "%d/%d/%d %d:%02d:%02d %s" % (mo, d, 2000 + y, (h + 11) % 12 + 1, mi, s, "AM" if h < 12 else "PM")
sys.stdout.write(re.sub(r"\b(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\b", f, open(sys.argv[1]).read()))
' "$1"
}
# run SECONDS PROGRAM ARGS...: a Windows program, its output in files.
run() {
  local secs="$1"; shift
  timeout -k 5 "$secs" "$wine64" "$@"
}

# The programs with their runtime, as the package lays them out.
rm -rf "$stage"
cmake --install "$winbuild" --prefix "$stage" >/dev/null
cmake --install "$winbuild" --prefix "$stage" --component render >/dev/null
for f in raidgui.exe raidmon.exe raidctl.exe raidgui_render.exe Qt6Core.dll platforms/qwindows.dll libwinpthread-1.dll; do
  [ -f "$stage/$f" ] || { echo "the Windows build lacks $f"; exit 1; }
done

# An X server for the window and for wine's own windows.
for n in $(seq 91 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY="$display"

# The prefix once (about 30 s), then one wine server for every run.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  run 300 wineboot -u </dev/null >"$work/wineboot.txt" 2>&1 || { echo "wineboot failed"; cat "$work/wineboot.txt"; exit 1; }
fi
"$wineserver" -p30 </dev/null >/dev/null 2>&1 || true
cd "$stage"

for current in "${cases[@]}"; do
  case "$current" in
    instance)
      logs=$(winpath "$work/first")
      run 120 raidmon.exe --simulate --duration 40 --log-dir "$logs" </dev/null >"$work/first.out" 2>"$work/first.err" &
      first=$!
      for _ in $(seq 300); do [ -s "$work/first.out" ] && break; sleep 0.1; done
      [ -s "$work/first.out" ] || fail "the first raidmon logged nothing: $(cat "$work/first.err")"
      set +e
      run 30 raidmon.exe --simulate --log-dir "$(winpath "$work/second")" </dev/null >"$work/second.out" 2>&1
      rc=$?
      set -e
      [ "$rc" -eq 0 ] || fail "a second raidmon ended with $rc"
      [ ! -s "$work/second.out" ] || fail "a second raidmon spoke: $(cat "$work/second.out")"
      [ ! -e "$work/second" ] || fail "a second raidmon created its log folder"
      # The window says that the monitor holds the enclosures, then waits in
      # its box, which nobody answers here.
      set +e
      run 12 raidgui.exe --simulate --log-dir "$(winpath "$work/gui")" </dev/null >"$work/gui.out" 2>&1
      rc=$?
      set -e
      grep -q "The monitor (raidmon) is running and watches the enclosures" "$work/gui.out" ||
        fail "raidgui beside raidmon did not say the monitor runs (exit $rc): $(cat "$work/gui.out")"
      [ ! -e "$work/gui" ] || fail "raidgui beside raidmon created its log folder"
      set +e
      run 30 raidctl.exe list --simulate </dev/null >"$work/ctl.out" 2>&1
      rc=$?
      set -e
      [ "$rc" -eq 3 ] || fail "raidctl beside raidmon ended with $rc: $(cat "$work/ctl.out")"
      set +e
      wait "$first"
      rc=$?
      set -e
      [ "$rc" -eq 0 ] || fail "the first raidmon ended with $rc: $(cat "$work/first.err")"
      ls "$work/first"/*.log >/dev/null 2>&1 || fail "the first raidmon left no day log"
      # Free again once it has ended.
      run 30 raidctl.exe list --simulate </dev/null >"$work/ctl2.out" 2>&1 || fail "raidctl after raidmon: $(cat "$work/ctl2.out")"
      ;;
    registry)
      key='HKEY_LOCAL_MACHINE\SOFTWARE\KX_RAID_GUI'
      run 60 reg delete "$key" /f </dev/null >/dev/null 2>&1 || true
      echo 'secret-pw' | run 60 raidctl.exe mail set --server smtp.example.com --port 587 --name "RAID box" \
        --address alerts@example.com --auth on --password-stdin >"$work/set.out" 2>&1 || fail "mail set: $(cat "$work/set.out")"
      run 60 raidctl.exe mail recipients add ops@example.com </dev/null >"$work/add.out" 2>&1 ||
        fail "recipients add: $(cat "$work/add.out")"
      run 60 reg query "$key" </dev/null 2>&1 | tr -d '\r' >"$work/reg.txt" || true
      for want in '^ +ProductID +REG_BINARY +[0-9A-F]{36}$' '^ +ToAddrCount +REG_DWORD +0x1$' \
        '^ +ToAddr_00 +REG_SZ +ops@example\.com$' '^ +SMTP +REG_SZ +smtp\.example\.com$' '^ +Port +REG_SZ +587$' \
        '^ +UserName +REG_SZ +RAID box$' '^ +Addr +REG_SZ +alerts@example\.com$' '^ +TimeOut +REG_SZ +0$' \
        '^ +FilePath +REG_SZ +.+\\$'; do
        grep -Eq "$want" "$work/reg.txt" || fail "no registry value like /$want/ in: $(cat "$work/reg.txt")"
      done
      # The password never in clear.
      ! grep -q 'secret-pw' "$work/reg.txt" || fail "the password is stored in clear"
      run 60 raidctl.exe mail show </dev/null 2>&1 | tr -d '\r' >"$work/show.txt" || fail "mail show: $(cat "$work/show.txt")"
      grep -q 'smtp.example.com' "$work/show.txt" && grep -q 'ops@example.com' "$work/show.txt" ||
        fail "mail show did not read the registry back: $(cat "$work/show.txt")"
      # A value of another type is refused, never taken for a number.
      run 60 reg add "$key" /v ToAddrCount /t REG_SZ /d 1 /f </dev/null >/dev/null 2>&1
      set +e
      run 60 raidctl.exe mail show </dev/null >"$work/bad.txt" 2>&1
      rc=$?
      set -e
      [ "$rc" -eq 1 ] || fail "a REG_SZ ToAddrCount gave exit code $rc"
      grep -q 'ToAddrCount' "$work/bad.txt" || fail "the refusal does not name the value: $(cat "$work/bad.txt")"
      run 60 reg delete "$key" /f </dev/null >/dev/null 2>&1 || true
      ;;
    wmi)
      set +e
      run 60 raidctl.exe system-info </dev/null 2>&1 | tr -d '\r' >"$work/info.txt"
      rc=${PIPESTATUS[0]}
      set -e
      [ "$rc" -eq 0 ] || fail "system-info ended with $rc: $(cat "$work/info.txt")"
      grep -Eq '^MotherBoard : [^ ].* - [^ ].*$' "$work/info.txt" || fail "no main board from WMI: $(cat "$work/info.txt")"
      grep -q '^System Name : $' "$work/info.txt" || fail "the system name is not empty: $(cat "$work/info.txt")"
      grep -q '^IP Address  : ' "$work/info.txt" || fail "no IP address line: $(cat "$work/info.txt")"
      ;;
    daylog)
      data="$src/tests/data/removal-rebuild-badsectors"
      run 180 raidmon.exe --simulate "$(winpath "$src/scenarios/removal-rebuild-badsectors.json")" --duration 150 \
        --log-dir "$(winpath "$work/daylog")" </dev/null >"$work/mon.out" 2>"$work/mon.err" ||
        fail "raidmon --simulate: $(cat "$work/mon.err")"
      for day in 100503 100504; do
        f="$work/daylog/$day.log"
        [ -f "$f" ] || { fail "no day log $day.log"; continue; }
        lines=$(wc -l <"$f")
        crlf=$(grep -c $'\r$' "$f" || true)
        [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] || fail "$day.log: $crlf of $lines lines end in CR LF"
        tr -d '\r' <"$f" >"$work/$day.txt"
        in_locale "$data/$day.log" >"$work/$day.want"
        diff -u "$work/$day.want" "$work/$day.txt" >"$work/$day.diff" || fail "$day.log differs: $(head -n 20 "$work/$day.diff")"
      done
      tr -d '\r' <"$work/mon.out" >"$work/mon.txt"
      in_locale "$data/stdout.txt" | diff -q - "$work/mon.txt" >/dev/null || fail "raidmon's stdout differs from Linux"
      ;;
    image)
      boot="$work/SPIHEAD.BIN"
      head -c 4096 /dev/zero | tr '\0' '\125' >"$boot"
      printf 'FIPS' | dd of="$boot" conv=notrunc status=none
      printf '\000\200\007' | dd of="$boot" bs=1 seek=16 conv=notrunc status=none
      head -c 1000 /dev/zero | tr '\0' '\042' >"$work/main02.bin"
      "$linuxctl" make-image --boot "$boot" --sub "$work/main02.bin" --sub "$work/main02.bin:1Ah:keep" --seed 7 \
        -o "$work/linux" >/dev/null
      run 60 raidctl.exe make-image --boot "$(winpath "$boot")" --sub "$(winpath "$work/main02.bin")" \
        --sub "$(winpath "$work/main02.bin"):1Ah:keep" --seed 7 -o "$(winpath "$work/windows")" \
        </dev/null >"$work/img.out" 2>&1 || fail "make-image: $(cat "$work/img.out")"
      grep -q 'Svae File OK :Z:' "$work/img.out" || fail "make-image said: $(cat "$work/img.out")"
      cmp "$work/linux.bin" "$work/windows.bin" || fail "the Windows image differs from the Linux one"
      ;;
    devices)
      set +e
      run 90 raidmon.exe --duration 6 --log-dir "$(winpath "$work/real")" </dev/null >"$work/real.out" 2>"$work/real.err"
      rc=$?
      set -e
      [ "$rc" -eq 0 ] || fail "raidmon on wine's disks ended with $rc: $(cat "$work/real.err")"
      ! grep -q 'notifications are not available' "$work/real.err" || fail "no device notifications: $(cat "$work/real.err")"
      # Detection went through wine's disks (none is an enclosure) to its end.
      grep -q 'raidmon: day log folder: Z:' "$work/real.err" && grep -q 'No Drive found!' "$work/real.err" ||
        fail "raidmon said: $(cat "$work/real.err")"
      ;;
    pipe)
      pipe='\\.\pipe\raidgui-test'
      commands=("status" "list" "schedule off")
      # Standalone first: beside a simulating raidmon raidctl --simulate
      # would find the enclosures busy.
      for i in "${!commands[@]}"; do
        set +e
        # shellcheck disable=SC2086
        run 60 raidctl.exe ${commands[$i]} --simulate </dev/null >"$work/alone$i.out" 2>"$work/alone$i.err"
        echo "$?" >"$work/alone$i.rc"
        set -e
      done
      run 120 raidmon.exe --simulate --listen "$pipe" --duration 30 --log-dir "$(winpath "$work/svclog")" \
        </dev/null >"$work/svc.out" 2>"$work/svc.err" &
      mon=$!
      for _ in $(seq 200); do grep -q "serving at" "$work/svc.err" 2>/dev/null && break; sleep 0.1; done
      grep -qF "raidmon: serving at $pipe" "$work/svc.err" || fail "raidmon does not serve: $(cat "$work/svc.err")"
      # Until the first poll has read the record a change is refused for now.
      for _ in $(seq 20); do
        run 30 raidctl.exe status --service "$pipe" </dev/null 2>/dev/null | grep -q HDD1 && break
        sleep 0.2
      done
      # A line that is no request, one far over the limit, a client gone in
      # the middle of a line; the service answers on as before.
      cp "$winbuild/pipe_abuse.exe" "$work/"
      WINEPATH=$(winpath "$stage") run 60 "$(winpath "$work/pipe_abuse.exe")" "$pipe" </dev/null >"$work/abuse.out" 2>&1 ||
        fail "misbehaving clients: $(cat "$work/abuse.out")"
      for i in "${!commands[@]}"; do
        set +e
        # shellcheck disable=SC2086
        run 60 raidctl.exe ${commands[$i]} --service "$pipe" </dev/null >"$work/served$i.out" 2>"$work/served$i.err"
        rc=$?
        set -e
        [ "$rc" -eq "$(cat "$work/alone$i.rc")" ] ||
          fail "${commands[$i]}: exit $rc through the pipe, $(cat "$work/alone$i.rc") standalone: $(cat "$work/served$i.err")"
        cmp -s "$work/alone$i.out" "$work/served$i.out" ||
          fail "${commands[$i]}: $(diff "$work/alone$i.out" "$work/served$i.out")"
        cmp -s "$work/alone$i.err" "$work/served$i.err" ||
          fail "${commands[$i]}: $(diff "$work/alone$i.err" "$work/served$i.err")"
      done
      # The window as the service's client hears it over the pipe.
      run 40 raidgui.exe --service "$pipe" </dev/null >"$work/client.out" 2>&1 &
      client=$!
      for _ in $(seq 200); do grep -qF "the monitor service at $pipe answers" "$work/client.out" && break; sleep 0.1; done
      kill "$client" 2>/dev/null || true
      wait "$client" 2>/dev/null || true
      grep -qF "raidgui: the monitor service at $pipe answers" "$work/client.out" ||
        fail "raidgui as the service's client: $(cat "$work/client.out")"
      # A second service at the name (the monitor of the real disks, which
      # takes another lock) is refused.
      set +e
      run 60 raidmon.exe --listen "$pipe" --duration 1 --log-dir "$(winpath "$work/second")" </dev/null \
        >"$work/second.out" 2>"$work/second.err"
      rc=$?
      set -e
      [ "$rc" -eq 1 ] && grep -qF "another service already answers at $pipe" "$work/second.err" ||
        fail "a second service: $rc $(cat "$work/second.err")"
      set +e
      wait "$mon"
      rc=$?
      set -e
      [ "$rc" -eq 0 ] || fail "the serving raidmon ended with $rc: $(cat "$work/svc.err")"
      set +e
      run 30 raidctl.exe status --service "$pipe" </dev/null >/dev/null 2>"$work/gone.err"
      rc=$?
      set -e
      [ "$rc" -eq 1 ] && grep -q "no answer from the monitor service at" "$work/gone.err" ||
        fail "after the end: $rc $(cat "$work/gone.err")"
      ;;
    installer)
      setup=$(ls "$src"/out/windows/raidgui-*-win64-setup.exe 2>/dev/null | tail -n 1 || true)
      if [ -z "$setup" ]; then
        echo "windows installer: no installer made (scripts/package-windows.sh), not checked"
        continue
      fi
      drive="$WINEPREFIX/drive_c"
      menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/RAID GUI"
      run 120 "$setup" /S '/D=C:\RaidTest' </dev/null >"$work/setup.out" 2>&1 || fail "setup: $(cat "$work/setup.out")"
      for f in raidgui.exe raidmon.exe raidctl.exe Qt6Widgets.dll platforms/qwindows.dll uninstall.exe; do
        [ -f "$drive/RaidTest/$f" ] || fail "the installer did not install $f"
      done
      [ -f "$menu/RAID GUI.lnk" ] && [ -f "$menu/Uninstall RAID GUI.lnk" ] || fail "no Start menu entries"
      run 60 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\RaidGui' </dev/null 2>&1 |
        tr -d '\r' | grep -q 'UninstallString *REG_SZ *"C:\\RaidTest\\uninstall.exe"' || fail "no uninstall entry"
      # The monitor service it registered runs and answers on its pipe.
      for _ in $(seq 60); do
        set +e
        run 30 raidctl.exe status --service '\\.\pipe\raidgui-raidmon' </dev/null >"$work/svcst.out" 2>"$work/svcst.err"
        set -e
        grep -q "no answer" "$work/svcst.err" || break
        sleep 0.5
      done
      ! grep -q "no answer" "$work/svcst.err" ||
        fail "the installed monitor service does not answer: $(cat "$work/svcst.err") $(cat "$work/setup.out")"
      run 120 'C:\RaidTest\uninstall.exe' /S </dev/null >"$work/uninstall.out" 2>&1 || fail "uninstall: $(cat "$work/uninstall.out")"
      # The uninstaller copies itself away and returns at once.
      for _ in $(seq 100); do [ -e "$drive/RaidTest" ] || [ -e "$menu" ] || break; sleep 0.1; done
      [ ! -e "$drive/RaidTest" ] || fail "the uninstaller left $(ls "$drive/RaidTest")"
      [ ! -e "$menu" ] || fail "the uninstaller left the Start menu entries"
      if run 30 sc query raidmon </dev/null >"$work/sc.out" 2>&1 && grep -q "raidmon" "$work/sc.out"; then
        fail "the uninstaller left the monitor service: $(cat "$work/sc.out")"
      fi
      ;;
    window)
      shots="$winbuild/screens"
      rm -rf "$shots"
      run 120 raidgui_render.exe default 10 "$(winpath "$shots")" win </dev/null >"$work/render.out" 2>&1 ||
        fail "raidgui_render: $(cat "$work/render.out")"
      # A healthy enclosure raises no box (COM security set up, no errors).
      ! grep -q 'message box' "$work/render.out" || fail "raidgui_render: $(cat "$work/render.out")"
      for page in status upgrade email about eventlog; do
        png="$shots/win-$page.png"
        [ -f "$png" ] || { fail "no $page picture"; continue; }
        python3 - "$png" "$page" >"$work/png.txt" 2>&1 <<'EOF' || fail "$page picture: $(tail -n 1 "$work/png.txt")"
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
w, h = struct.unpack(">II", data[16:24])
if sys.argv[2] != "eventlog":
    assert (w, h) == (620, 440), f"{w}x{h}, not the window's 620x440"
pos, raw = 8, b""
while pos < len(data):
    n, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if kind == b"IDAT":
        raw += data[pos + 8:pos + 8 + n]
    pos += 12 + n
pixels = zlib.decompress(raw)
assert len(set(pixels)) > 16, "a blank picture"
EOF
      done
      # The window itself: started, asked to close as the user would, log saved.
      run 120 raidgui.exe --simulate --log-dir "$(winpath "$work/guilog")" </dev/null >"$work/gui.out" 2>&1 &
      gui=$!
      sleep 8
      kill -0 "$gui" 2>/dev/null || fail "raidgui ended by itself: $(cat "$work/gui.out")"
      run 30 taskkill /im raidgui.exe </dev/null >"$work/taskkill.out" 2>&1 || fail "taskkill: $(cat "$work/taskkill.out")"
      set +e
      wait "$gui"
      rc=$?
      set -e
      [ "$rc" -eq 0 ] || fail "raidgui ended with $rc: $(cat "$work/gui.out")"
      ls "$work/guilog"/*.log >/dev/null 2>&1 || fail "raidgui saved no day log"
      ;;
    *)
      echo "unknown case $current"; exit 2 ;;
  esac
  echo "windows $current: done"
done
[ "$failures" -eq 0 ] || { echo "$failures failed checks"; exit 1; }
echo "windows: every check passed"
