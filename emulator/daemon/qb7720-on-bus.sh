#!/usr/bin/env bash
# Runs a command against qb7720-emulator on a private bus, through the real (BlueZ) backend:
#   qb7720-on-bus.sh [-v] "bridges=3 peer=loopback" -- ./build/bin/tavrionapp
# Starts dbus-daemon and the emulator daemon, waits until org.bluez is served, runs the command with
# DBUS_SYSTEM_BUS_ADDRESS pointing at the private bus (and QB7720_EMULATOR unset, so the real backend
# is chosen), then stops both. The command's exit status is returned.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
verbose=()
if [[ ${1:-} == -v ]]; then verbose=(-v); shift; fi
config=${1:?usage: qb7720-on-bus.sh [-v] CONFIG -- COMMAND...}
shift
[[ ${1:-} == -- ]] && shift
(($#)) || { echo "qb7720-on-bus.sh: no command" >&2; exit 2; }
daemon=${QB7720_EMULATOR_DAEMON:-}
if [[ -z $daemon ]]; then
  for candidate in "$here/../../build/bin/qb7720-emulator" "$(command -v qb7720-emulator || true)"; do
    [[ -n $candidate && -x $candidate ]] && { daemon=$candidate; break; }
  done
fi
[[ -x ${daemon:-} ]] || { echo "qb7720-on-bus.sh: set QB7720_EMULATOR_DAEMON to the qb7720-emulator program" >&2; exit 2; }

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

# Beside the script in the source tree; in share/qb7720-emulator/ once installed.
bus_conf=$here/private-bus.conf
[[ -f $bus_conf ]] || bus_conf=$here/../share/qb7720-emulator/private-bus.conf
addr_file=$(mktemp)
dbus-daemon --config-file="$bus_conf" --nofork --print-address=1 >"$addr_file" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $addr_file ]] && break; sleep 0.05; done
address=$(head -n1 "$addr_file")
rm -f "$addr_file"
[[ -n $address ]] || { echo "qb7720-on-bus.sh: dbus-daemon did not start" >&2; exit 1; }

"$daemon" "${verbose[@]}" --bus "$address" "$config" &
pids+=($!)
for _ in $(seq 200); do
  if dbus-send --bus="$address" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.bluez 2>/dev/null | grep -q 'boolean true'; then
    break
  fi
  sleep 0.05
done

set +e
env -u QB7720_EMULATOR DBUS_SYSTEM_BUS_ADDRESS="$address" "$@"
status=$?
set -e
exit $status
