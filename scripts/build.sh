#!/usr/bin/env bash
# Configures and builds one of the CMake presets, quietly: scripts/build.sh <default|ci|asan>
# Says what was rebuilt; shows the whole output only when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# Whoever calls this alone (the README's advice without a display) needs the compilers too.
scripts/deps.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset "$1" && cmake --build --preset "$1" --parallel "$(nproc)"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "The build ($1) failed." >&2
  exit 1
fi
compiled=$(grep -c 'Building CXX object' "$log" || true)
linked=$(grep -c 'Linking CXX' "$log" || true)
grep -E 'warning:' "$log" >&2 || true
if [ "$compiled" -gt 0 ] || [ "$linked" -gt 0 ]; then
  echo "    $1: $compiled files compiled, $linked targets linked"
else
  echo "    $1: up to date"
fi
