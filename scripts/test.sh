#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test; then
# builds and runs the tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/test.sh            # both builds
#   scripts/test.sh --quick    # the plain build only
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

scripts/build.sh ci
ctest --preset default --parallel 2

if [ "${1:-}" != "--quick" ]; then
  scripts/build.sh asan
  ctest --preset asan --parallel 2
fi
