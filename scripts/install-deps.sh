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
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
