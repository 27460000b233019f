#!/usr/bin/env bash
# The real stack beside the emulator daemon, in one guest run: the same loopback transfer through
# Debian's bluetoothd and btvirt's air, then through the emulator daemon on a private bus, and the
# ratios of the two.
#   bash scripts/real-stack.sh --bridges 1 peer=loopback -- bash bench/realstack/run.sh build [BYTES]
set -euo pipefail
build=${1:?build folder}
bytes=${2:-65536}
root=$(cd "$(dirname "$0")/../.." && pwd)
real=$("$build/bin/qb_realstack_rate" real-stack "$bytes")
echo "$real"
daemon=$(QB7720_EMULATOR_DAEMON=$build/bin/qb7720-emulator bash "$root/emulator/daemon/qb7720-on-bus.sh" \
    "bridges=1 peer=loopback" -- "$build/bin/qb_realstack_rate" emulator-daemon "$bytes")
echo "$daemon"
field() { sed -nE "s/.* $1=([0-9.]+).*/\1/p" <<<"$2"; }
for f in write_bytes_per_s notifications_per_s; do
    awk -v f="$f" -v r="$(field "$f" "$real")" -v d="$(field "$f" "$daemon")" \
        'BEGIN { printf "%s: real stack / emulator daemon = %.3f\n", f, (d > 0 ? r / d : 0) }'
done
