#!/usr/bin/env bash
# The three programs' command lines from outside: --version and --help end
# with 0, a mistake with 2 and its reason on stderr, `--opt=value` runs as
# `--opt value`, raidctl takes the options of every command before the
# command, a word after "--" is never an option, its bash completion offers
# what the parser takes, `raidctl help COMMAND` is the command's --help,
# and the manual pages made from --help read as they should: every option
# of every command is its own paragraph, the description said once.
set -euo pipefail
ctl=$(realpath "$1"); mon=$(realpath "$2"); gui=$(realpath "$3"); src=$(realpath "$4")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C XDG_RUNTIME_DIR="$work" RAIDGUI_SERVICE=
fail() { echo "e2e_command_lines: $*"; exit 1; }
version=$(sed -n 's/^project(raidgui VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")

for program in "$ctl" "$mon" "$gui"; do
  name=$(basename "$program")
  out=$("$program" --version) || fail "$name --version: code $?"
  [ "$(head -1 <<<"$out")" = "$name $version" ] || fail "$name --version: $out"
  "$program" --help >"$work/help.txt" || fail "$name --help: code $?"
  grep -q -- "--simulate" "$work/help.txt" || fail "$name --help: $(cat "$work/help.txt")"
  set +e
  "$program" --no-such-option >"$work/out.txt" 2>"$work/err.txt"; rc=$?
  set -e
  [ "$rc" -eq 2 ] || fail "$name --no-such-option: code $rc"
  [ ! -s "$work/out.txt" ] && grep -q "^$name: unknown option \"--no-such-option\"" "$work/err.txt" ||
    fail "$name --no-such-option: $(cat "$work/out.txt" "$work/err.txt")"
done

# --opt=value everywhere, and raidctl's options before its command.
"$mon" --simulate="$src/scenarios/rebuilding.json" --duration=8 --log-dir="$work/logs" --status-file="$work/s.json" \
  >/dev/null 2>&1 || fail "raidmon with --opt=value: code $?"
grep -q '"kind": "rebuild"' "$work/s.json" || fail "raidmon --status-file=: $(cat "$work/s.json")"
"$ctl" --simulate="$src/scenarios/rebuilding.json" --trace="$work/t.txt" status --json >"$work/status.json"
grep -q '"kind": "rebuild"' "$work/status.json" && [ -s "$work/t.txt" ] || fail "raidctl options before status"
# After "--" a word is a plain word, even right after a bare --simulate.
set +e
"$mon" --simulate -- --duration 0 >/dev/null 2>"$work/err.txt"; rc=$?
set -e
[ "$rc" -eq 2 ] && grep -q '^raidmon: unexpected "--duration"' "$work/err.txt" ||
  fail "raidmon --simulate -- --duration 0: code $rc, $(cat "$work/err.txt")"
[ "$("$ctl" help mail set)" = "$("$ctl" mail set --help)" ] || fail "raidctl help mail set: $("$ctl" help mail set 2>&1)"
"$ctl" --simulate schedule on --period=60 >"$work/sched.txt"
grep -qx "Backup period: 60 min" "$work/sched.txt" || fail "schedule: $(cat "$work/sched.txt")"

# The bash completion asks raidctl itself.
complete_words() {  # the words typed after raidctl, the last one being completed
  bash -c 'source "$1"; shift; COMP_WORDS=(raidctl "$@"); COMP_CWORD=$#; _raidctl; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$src/packaging/raidctl.bash-completion" "$@"
}
export PATH="$(dirname "$ctl"):$PATH"
[ "$(complete_words sch)" = "schedule" ] || fail "completion of sch: $(complete_words sch)"
[ "$(complete_words scan start --d)" = "--drive" ] || fail "completion of --d: $(complete_words scan start --d)"
[ "$(complete_words mail set --tls = i)" = "implicit" ] || fail "completion after --tls=: $(complete_words mail set --tls = i)"
# Only what the command takes: system-info takes none of raidctl's options.
[ "$(complete_words system-info --)" = $'--help\n--version' ] ||
  fail "completion of system-info --: $(complete_words system-info --)"
# A file name is left to bash's own file completion (it knows quoting).
[ "$("$ctl" __complete upgrade "")" = "@file" ] && [ "$("$ctl" __complete make-image -o "")" = "@file" ] ||
  fail "completion of a file: $("$ctl" __complete upgrade "")"
# After --simulate, whose scenario may be left out: the commands and the
# files both.
touch "$work/init-scenario.json"
[ "$(cd "$work" && complete_words --simulate ini)" = $'initialize\ninit-scenario.json' ] ||
  fail "completion after --simulate: $(cd "$work" && complete_words --simulate ini)"
# A file whose name starts with '-' after "--".
cp "$src/scenarios/rebuilding.json" "$work/-scenario.json"
(cd "$work" && "$ctl" list --simulate=-scenario.json >/dev/null) || fail "--simulate=-scenario.json"

# The manual pages, made as the package makes them: every option --help
# names (a command's too) starts a line of the page as man shows it, not
# run into the text before it, and the --help summary is not said again
# after the description.
if command -v help2man >/dev/null && command -v man >/dev/null; then
  for program in "$ctl" "$mon" "$gui"; do
    name=$(basename "$program")
    QT_QPA_PLATFORM=offscreen help2man --no-info --no-discard-stderr --version-string="$name $version" \
      --include="$src/packaging/man/$name.h2m" "$program" >"$work/$name.1"
    MANWIDTH=200 man -l "$work/$name.1" 2>/dev/null | col -b >"$work/$name.txt"
    grep -q "^RAIDCTL\|^RAIDMON\|^RAIDGUI" "$work/$name.txt" || fail "man -l $name.1: $(head "$work/$name.txt")"
    for option in $(QT_QPA_PLATFORM=offscreen "$program" --help | sed -nE 's/^ +(-[a-z],)?(--[a-z][a-z-]+).*/\2/p'); do
      grep -qE -- "^ +(-[a-z],)?$option( |$)" "$work/$name.txt" || fail "$name.1: $option is not its own paragraph"
    done
    summary=$(QT_QPA_PLATFORM=offscreen "$program" --help | head -1 | cut -c1-40)
    ! grep -qF -- "$summary" "$work/$name.txt" || fail "$name.1 says its description twice"
  done
  grep -qF "raidctl $version" "$work/raidctl.1" || fail "the manual page lacks the version"
fi
echo "e2e_command_lines: ok"
