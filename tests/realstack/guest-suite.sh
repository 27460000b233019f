#!/usr/bin/env bash
# The real-stack suite, run inside the guest by scripts/real-stack.sh: the C examples, and with a
# filter the library's exports against the peripheral's loopback bridge (qb_realstack_tests).
# QB7720_REAL_STACK_EXAMPLES names the examples to run (default: both).
#   tests/realstack/guest-suite.sh BUILD-DIR [GTEST-FILTER]
set -uo pipefail
build=${1:?build folder}
here=$(dirname "$0")
failed=0
# shellcheck disable=SC2086
bash "$here/run-examples.sh" "$build" ${QB7720_REAL_STACK_EXAMPLES:-} || failed=1
if (($# > 1)); then
    "$build/bin/qb_realstack_tests" --gtest_color=no --gtest_filter="$2" || failed=1
fi
exit "$failed"
