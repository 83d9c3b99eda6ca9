#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test; then builds
# and runs the tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/test.sh            # both builds
#   scripts/test.sh --quick    # the plain build only
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
export QT_QPA_PLATFORM=offscreen
use_runtime_dir

passed=0
failed=0
report=()
# suite <preset>: runs the suite of one build; its counts add to the totals.
suite() {
  local log rc=0 line total bad
  log=$(mktemp)
  ctest --preset "$1" --parallel 2 >"$log" 2>&1 || rc=$?
  # Quiet when all is well; the whole output of the failing suites when not.
  [ "$rc" -eq 0 ] || cat "$log"
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" | tail -n1)
  if [ -z "$line" ]; then
    cat "$log"
    rm -f "$log"
    failed=$((failed + 1))
    report+=("$1: did not run")
    return 1
  fi
  echo "    $line"
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  report+=("$1 build: $((total - bad)) of $total suites passed")
  rm -f "$log"
  return "$rc"
}

rc=0
# procps: the scripts' own test looks for the programs it started.
step "Checking packages" scripts/deps.sh procps
step "Building (warnings as errors)" scripts/build.sh ci
step "Running the tests" suite default || rc=1
if [ "${1:-}" != "--quick" ]; then
  step "Building with AddressSanitizer and UndefinedBehaviorSanitizer" scripts/build.sh asan
  step "Running the tests under the sanitizers" suite asan || rc=1
fi
printf '%s\n' "${report[@]}"
echo "suites: $passed passed, $failed failed"
exit "$rc"
