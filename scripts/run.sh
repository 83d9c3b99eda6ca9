#!/usr/bin/env bash
# Installs what is missing, builds, starts the virtual keyboard and PADCOM beside it.
#   scripts/run.sh           # PADCOM with the virtual keyboard (no hardware needed)
#   scripts/run.sh --alone   # PADCOM only, for a real keyboard on a serial port
set -euo pipefail
cd "$(dirname "$0")/.."
extra=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  extra=(xvfb xauth)
fi
scripts/deps.sh "${extra[@]}"
scripts/build.sh default

run() {
  if [ ${#extra[@]} -gt 0 ]; then
    echo "No display found: running on a virtual X server (nothing will be visible)." >&2
    xvfb-run -a "$@"
  else
    "$@"
  fi
}

if [ "${1:-}" = "--alone" ]; then
  run build/padcom
  exit 0
fi

source scripts/lib.sh
start_padsim run build/padsim
trap stop_padsim EXIT
cat "$sim_log"
echo "In PADCOM, type ${port:-?} in \"Porta Serial Numero:\" and press \"Inicia a Porta Serial\"."
run build/padcom
