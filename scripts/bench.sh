#!/usr/bin/env bash
# Builds and runs every benchmark, and writes bench/RESULTS.md (with the plot
# bench/loop-phase.svg). Takes about 20 minutes; run it on an idle machine.
# Shorter runs for a try: BENCH_REPS=1 BENCH_LINE_SECONDS=5 BENCH_IDLE_SECONDS=5 scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
step "Checking packages" scripts/deps.sh python3 valgrind xvfb xauth xdotool x11-utils cutecom
step "Building" scripts/build.sh default
use_runtime_dir
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1024x768x24" python3 bench/run.py
else
  python3 bench/run.py
fi
# The test station: padtest on eight ports against one, needing no display.
python3 bench/station.py
