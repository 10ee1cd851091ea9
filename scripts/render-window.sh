#!/usr/bin/env bash
# Renders every page of the main window and the event log window to PNG
# files, for a healthy, a rebuilding and a failed-drive enclosure.
# Output: out/screens/ (or the folder given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-out/screens}"
cmake --preset default >/dev/null
cmake --build --preset default --target raidgui_render
export QT_QPA_PLATFORM=offscreen
r=build/default/app/raidgui_render
"$r" default 10 "$out" healthy
"$r" scenarios/rebuilding.json 30 "$out" rebuilding
"$r" scenarios/failed-drive.json 20 "$out" failed
ls "$out"/*.png
