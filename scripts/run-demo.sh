#!/usr/bin/env bash
# Installs what is needed (Debian 12), builds the terminal and starts it against three emulated
# loopback bridges. Without a display it says how to see the window instead (--screenshots).
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
have_display() { [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; }
# A terminal on a virtual display is a window nobody can see.
if [ "${1:-}" != "--screenshots" ] && ! have_display; then
  cat >&2 <<'EOF_MESSAGE'
run-demo.sh: there is no display (DISPLAY and WAYLAND_DISPLAY are unset), so the terminal would run on
a virtual display where nobody can see it; it is not started. To see the window:
  - run this script in a desktop session (or over ssh -X), or
  - render it to images on a virtual display: bash scripts/run-demo.sh --screenshots
    (writes docs/screenshots/*.png).
EOF_MESSAGE
  exit 1
fi

bash scripts/install-deps.sh
build=${BUILD_DIR:-build-demo}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_BENCH=OFF >/dev/null
build=$(cd "$build" && pwd)

run() {
  if have_display; then
    "$@"
  else
    echo "run-demo.sh: no display, so the window is drawn on a virtual one (Xvfb) and saved as images" >&2
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
# The demo's home, so the emulated bridges do not end up in the user's connection record file.
mkdir -p "$build/demo"
export HOME="$build/demo"
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
