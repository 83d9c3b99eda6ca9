#!/usr/bin/env bash
# Installs what is missing, builds, and starts the virtual keyboard with PADCOM beside it.
# Quitting PADCOM, in any way, ends the virtual keyboard too.
#   scripts/run.sh           # PADCOM with the virtual keyboard (no hardware needed)
#   scripts/run.sh --alone   # PADCOM only, for a real keyboard on a serial port
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
There is no display here, so PADCOM's window cannot be shown. Instead:
  - run this from a desktop session, or over ssh with X forwarding (ssh -X);
  - or drive the virtual keyboard from this terminal: build/padsim --headless
    (after bash scripts/build.sh default);
  - or build and run every test, which needs no display: bash scripts/test.sh
MSG
  exit 1
fi

step "Checking packages" scripts/deps.sh
step "Building" scripts/build.sh default
use_runtime_dir

if [ "${1:-}" = "--alone" ]; then
  exec build/padcom
fi

start_padsim build/padsim
trap stop_padsim EXIT
trap 'exit 130' INT
trap 'exit 129' HUP
trap 'exit 143' TERM
if [ -z "$port" ]; then
  cat "$sim_log" >&2
  echo "The virtual keyboard did not start." >&2
  exit 1
fi
echo "Virtual keyboard: port $port."
echo "In PADCOM, type $port in \"Porta Serial Numero:\" and press \"Inicia a Porta Serial\"."
build/padcom
