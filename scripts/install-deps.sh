#!/usr/bin/env bash
# Installs what building, testing and running the toolkit needs on Debian 12.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  qtbase5-dev qtbase5-dev-tools
  libsdbus-c++-dev libsdbus-c++-bin libsystemd-dev dbus dbus-daemon systemd
  xvfb xauth xdotool fonts-noto-cjk librsvg2-bin imagemagick
)
source "$(dirname "${BASH_SOURCE[0]}")/lib/ensure-packages.sh"
ensure_packages "${packages[@]}"
