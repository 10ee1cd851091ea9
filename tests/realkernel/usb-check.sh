#!/usr/bin/env bash
# The outcome of one story of usb-stories.sh's run: exits 0 when it passed,
# 77 when the run was skipped on this machine, 1 with the reason otherwise.
#   usb-check.sh RESULTS_DIR STORY
results="$1"; story="$2"
if [ -f "$results/skipped" ]; then
  echo "realkernel: SKIP: this machine cannot boot the test guest"
  exit 77
fi
if [ ! -f "$results/$story/status" ]; then
  echo "realkernel: story $story has no outcome in $results"
  exit 1
fi
[ -f "$results/$story/why" ] && cat "$results/$story/why"
exit "$(cat "$results/$story/status")"
