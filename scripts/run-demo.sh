#!/usr/bin/env bash
# Installs what is needed (Debian 12), builds the terminal and starts it against three emulated
# loopback bridges. Without a display it runs on a virtual one.
#
#   bash scripts/run-demo.sh                 the terminal, on the in-process emulator
#   bash scripts/run-demo.sh --bus           the terminal through the BlueZ backend, against the emulator
#                                            daemon on a private D-Bus bus
#   bash scripts/run-demo.sh --screenshots   renders docs/screenshots/main-window.png and file-transfer.png
#
# QB7720_EMULATOR may be set to another emulator configuration (see README, "Configuring the emulator").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
build=${BUILD_DIR:-build-demo}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_BENCH=OFF >/dev/null
build=$(cd "$build" && pwd)

run() {
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$@"
  else
    xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
  fi
}

if [ "${1:-}" = "--screenshots" ]; then
  cmake --build "$build" --target tavrion_window_shots -j"$(nproc)"
  mkdir -p docs/screenshots
  run "$build/bin/tavrion_window_shots" "$root/docs/screenshots"
  exit
fi

config=${QB7720_EMULATOR:-"bridges=3 peer=loopback link=le-1m"}
# The connection record file is kept relative to the working directory.
mkdir -p "$build/demo"
if [ "${1:-}" = "--bus" ]; then
  shift
  cmake --build "$build" --target tavrionapp qb7720-emulator -j"$(nproc)"
  cd "$build/demo"
  unset QB7720_EMULATOR
  QB7720_EMULATOR_DAEMON="$build/bin/qb7720-emulator" \
    run "$root/emulator/daemon/qb7720-on-bus.sh" "$config" -- "$build/bin/tavrionapp" "$@"
  exit
fi
cmake --build "$build" --target tavrionapp -j"$(nproc)"
export QB7720_EMULATOR=$config
cd "$build/demo"
run "$build/bin/tavrionapp" "$@"
