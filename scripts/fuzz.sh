#!/usr/bin/env bash
# Builds the fuzzers with clang and runs each for a while; exits non-zero on a finding.
#   scripts/fuzz.sh [seconds per target]     (default 8)
# A finding is kept as build-fuzz/findings/<target>-crash-*; replay it with
#   build-fuzz/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
seconds=${1:-8}

step "Checking packages" scripts/deps.sh clang-14 libclang-rt-14-dev
step "Building the fuzzers" scripts/build.sh fuzz

mkdir -p build-fuzz/findings
found=0
targets=()
for source in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
for target in "${targets[@]}"; do
  # The seeds stay as they are in the repository; what the fuzzer learns goes elsewhere.
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  cp -n "fuzz/corpus/${target#fuzz_}/"* "$corpus/" 2>/dev/null || true
  log=build-fuzz/findings/$target.log
  rc=0
  build-fuzz/fuzz/$target -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/findings/$target-" "$corpus" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$rc" -ne 0 ]; then
    found=$((found + 1))
    echo "$target: FINDING after ${runs:-?} runs"
    grep -E 'invariant broken|ERROR|SUMMARY|artifact' "$log" | head -n 8
  else
    echo "$target: ${runs:-?} runs in $seconds s, nothing found"
  fi
done
echo "fuzz: $((${#targets[@]} - found)) passed, $found failed"
[ "$found" -eq 0 ]
