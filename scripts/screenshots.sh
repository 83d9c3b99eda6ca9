#!/usr/bin/env bash
# Renders the README's screenshots (docs/*.png) from the real widgets, offscreen: PADCOM
# covered by its port frame, PADCOM opened on a virtual keyboard, and the virtual keyboard.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default

source scripts/lib.sh
runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen
start_padsim build/padsim --headless
trap 'stop_padsim; rm -rf "$runtime"' EXIT
mkdir -p docs
build/screenshot docs "$port"
