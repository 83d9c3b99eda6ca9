#!/usr/bin/env bash
# Builds and runs the benchmarks; run on an idle machine.
#   scripts/bench.sh [ticks at 100 ms] [flood seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default
build/bench/bench_loop "${1:-100}"
build/bench/bench_monitor "${2:-10}"
