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
# The device library's example aborts now and then over the real stack (sd_bus_ref's assertion on
# a dead bus object, before the scan reports); it joins once that is fixed.
export QB7720_REAL_STACK_EXAMPLES=${QB7720_REAL_STACK_EXAMPLES:-bridge_echo}
# The library's exports too: 20 opens, a quarter of the 1 MiB loopback (about 4 KB/s round trip
# under software emulation), and the dropped link; about 5 minutes in all.
export QB7720_REAL_STACK_LOOPBACK_BYTES=${QB7720_REAL_STACK_LOOPBACK_BYTES:-262144}
export QB7720_REAL_STACK_OPENS=${QB7720_REAL_STACK_OPENS:-20}
bash scripts/real-stack.sh --bridges 1 --logs "$logs" --peripheral "$build/bin/qb7720-emulator" \
    --timeout "${QB7720_REAL_STACK_TIMEOUT:-480}" "peer=loopback" -- \
    bash tests/realstack/guest-suite.sh "$build" 'RealStack.*'
status=$?
if ((status != 0)); then
    echo "real-stack suite failed (status $status); bluetoothd's, the peripheral's and the command's logs and a btmon capture are in $logs"
fi
exit "$status"
