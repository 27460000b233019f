#!/usr/bin/env bash
# CI's real-stack step: one guest, one loopback bridge, the bounded suite, within a wall-time limit.
# On a failure the logs stay in BUILD-DIR/real-stack-logs, and the step says so.
#   tests/realstack/ci.sh BUILD-DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
logs=$build/real-stack-logs
rm -rf "$logs"
cd "$root"
# Both C examples (the default), unless QB7720_REAL_STACK_EXAMPLES names fewer.
# The library's exports too: 1 MiB through the loopback at 1,000,000 baud, 20 opens and the dropped link.
export QB7720_REAL_STACK_OPENS=${QB7720_REAL_STACK_OPENS:-20}
bash scripts/real-stack.sh --bridges 1 --logs "$logs" --peripheral "$build/bin/qb7720-emulator" \
    --timeout "${QB7720_REAL_STACK_TIMEOUT:-480}" "peer=loopback" -- \
    bash tests/realstack/guest-suite.sh "$build" "${QB7720_REAL_STACK_FILTER:-RealStack.Loopback*:RealStack.TwentyOpens*:RealStack.DroppedLink*}"
status=$?
if ((status != 0)); then
    echo "real-stack suite failed (status $status); bluetoothd's, the peripheral's and the command's logs and a btmon capture are in $logs"
fi
exit "$status"
