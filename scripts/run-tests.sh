#!/usr/bin/env bash
# Installs the dependencies, builds everything, and runs every test (a failed test once more, named
# when it passes then).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_WERROR=ON
cmake --build "$build" -j"$(nproc)"
bash scripts/ctest-with-retry.sh "$build" -j"$(nproc)" --timeout 300
