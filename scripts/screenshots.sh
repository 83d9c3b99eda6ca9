#!/usr/bin/env bash
# Renders the README's screenshots (docs/*.png) from the real widgets, offscreen: PADCOM
# covered by its port frame, PADCOM opened on a virtual keyboard, and the virtual keyboard.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen
log=$runtime/padsim.log
build/padsim --headless >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 50); do
  grep -q "porta" "$log" && break
  sleep 0.1
done
port=$(sed -n 's/.*porta \([0-9]*\).*/\1/p' "$log" | head -n1)
mkdir -p docs
build/screenshot docs "$port"
