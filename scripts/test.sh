#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test; then
# builds and runs the tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/test.sh            # both builds
#   scripts/test.sh --quick    # the plain build only
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

scripts/build.sh build -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
ctest --test-dir build --parallel 2

if [ "${1:-}" != "--quick" ]; then
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  scripts/build.sh build-asan -DPADCOM_SANITIZE=ON -DPADCOM_BENCH=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
  ctest --test-dir build-asan --parallel 2
fi
