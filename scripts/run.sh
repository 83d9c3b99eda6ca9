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
scripts/build.sh build

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

log=$(mktemp)
run build/padsim >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do
  grep -q "porta" "$log" && break
  sleep 0.1
done
cat "$log"
port=$(sed -n 's/.*porta \([0-9]*\).*/\1/p' "$log" | head -n1)
echo "In PADCOM, type ${port:-?} in \"Porta Serial Numero:\" and press \"Inicia a Porta Serial\"."
run build/padcom
