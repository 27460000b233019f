#!/usr/bin/env bash
# Renders the terminal's desktop icon at the sizes desktops ask for, from the logo's SVG drawing
# (needs rsvg-convert). The PNGs are kept in the tree so that building needs no image tools.
set -euo pipefail
cd "$(dirname "$0")"
for px in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$px" -h "$px" ../../app/logoIcon/svg/tavrionLogo.svg -o "tavrion-$px.png"
done
