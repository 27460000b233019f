#!/usr/bin/env bash
# Installs the dependencies, builds everything, and runs every test (a failed test once more, named
# when it passes then).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_WERROR=ON
cmake --build "$build" -j"$(nproc)"
# Most tests wait on timers and buses rather than compute, so twice as many as there are cores run at once.
bash scripts/ctest-with-retry.sh "$build" -j"${TEST_JOBS:-$((2 * $(nproc)))}" --timeout 300
