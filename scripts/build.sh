#!/usr/bin/env bash
# Configures and builds one of the CMake presets: scripts/build.sh <default|ci|asan>
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset "$1" >/dev/null
cmake --build --preset "$1" --parallel "$(nproc)"
