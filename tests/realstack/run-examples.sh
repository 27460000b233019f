#!/usr/bin/env bash
# Inside the real-stack guest: the two C examples scan, connect and echo through Debian's bluetoothd
# and a loopback bridge served from another controller, and exit with status 0.
#   tests/realstack/run-examples.sh BUILD-DIR [EXAMPLE...]   (default: both)
set -uo pipefail
bin=${1:?build folder}/bin
shift
examples=("$@")
((${#examples[@]})) || examples=(bridge_echo devicelib_loopback_echo)
failed=0
# check NAME EXPECTED-OUTPUT COMMAND...: the command exits 0 and prints the expected text.
check() {
    local name=$1 expected=$2 output status
    shift 2
    output=$(timeout 120 "$@" 2>&1)
    status=$?
    printf '%s\n' "$output" | sed "s/^/  $name: /"
    if ((status != 0)); then
        echo "FAIL $name: exit status $status"
        failed=1
    elif ! grep -qF -- "$expected" <<<"$output"; then
        echo "FAIL $name: no \"$expected\" in its output"
        failed=1
    else
        echo "PASS $name"
    fi
}
for example in "${examples[@]}"; do
    case $example in
    bridge_echo) check bridge_echo "received 14 bytes: Hello, bridge!" "$bin/bridge_echo" QB7720 "Hello, bridge!" ;;
    devicelib_loopback_echo) check devicelib_loopback_echo 'received "AB"' "$bin/devicelib_loopback_echo" ;;
    *) echo "FAIL $example: no such example"; failed=1 ;;
    esac
done
exit "$failed"
