#!/usr/bin/env bash
# The rig refuses these arguments with status 2 before it installs, downloads or boots anything
# (its cache folder is never made).
#   tests/realstack/rig-refuses.sh [from=DIR] ARG...
set -u
rig=$(cd "$(dirname "$0")/../.." && pwd)/scripts/real-stack.sh
case ${1:-} in from=*) cd "${1#from=}" || exit 1; shift ;; esac
cache=$(mktemp -u "${TMPDIR:-/tmp}/qb7720-rig-refuses.XXXXXX")
QB7720_REAL_STACK_CACHE=$cache bash "$rig" "$@" </dev/null
status=$?
if [ -e "$cache" ]; then
    echo "the rig went on to make its cache for: $*"
    rm -rf "$cache"
    exit 1
fi
[ "$status" -eq 2 ] || { echo "status $status, not 2, for: $*"; exit 1; }
