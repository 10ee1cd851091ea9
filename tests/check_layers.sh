#!/usr/bin/env bash
# Each layer includes only the layers below it:
#   platform <- device <- monitor <- maintenance, notify;  device <- sim.
# Nothing below app/ includes Qt or holds a front end's own state (its
# pages and selections live in app/ and reach the core through ViewFocus).
# Prints every include or use that runs against this and fails when there
# is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
allowed() {
  case "$1" in
    platform) echo "platform" ;;
    device) echo "platform device" ;;
    sim) echo "platform device sim" ;;
    monitor) echo "platform device monitor" ;;
    maintenance) echo "platform device monitor maintenance" ;;
    notify) echo "platform device monitor notify" ;;
    service) echo "platform service" ;;
  esac
}
bad=0
for layer in platform device sim monitor maintenance notify service; do
  [ -d "$layer" ] || continue
  ok=" $(allowed "$layer") "
  while IFS= read -r line; do
    file=${line%%:*}
    inc=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$line")
    if [[ "$ok" != *" $inc "* ]]; then
      echo "layer $layer may not include $inc: $line"
      bad=1
    fi
  done < <(grep -rnE '#include "[a-z_]+/' "$layer" --include='*.h' --include='*.cpp' --include='*.cxx' || true)
  if grep -rnE '#include <Q' "$layer" --include='*.h' --include='*.cpp'; then
    echo "layer $layer includes Qt"
    bad=1
  fi
  if grep -rnwE 'PageSelection|notebook_page|WindowControls|#include "app/' "$layer" --include='*.h' --include='*.cpp'; then
    echo "layer $layer holds a front end's state"
    bad=1
  fi
done
exit $bad
