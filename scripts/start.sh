#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program on the built-in
# simulated enclosure: the window when a display is there, else the headless
# monitor raidmon. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target raidgui raidmon
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/default/app/raidgui --simulate "$@"
fi
echo "start: no display here, so the headless monitor raidmon runs instead (Ctrl+C ends it)"
exec build/default/app/raidmon --simulate "$@"
