#!/usr/bin/env bash
# Renders the window's button images from their SVG drawings (needs rsvg-convert and ImageMagick).
# The 48 px image comes first in each .ico: Qt reads the first one, and 48 px is the button size.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for svg in svg/*.svg; do
  name=$(basename "$svg" .svg)
  for px in 48 32 16 96; do
    rsvg-convert -w "$px" -h "$px" "$svg" -o "$tmp/$name-$px.png"
  done
  convert "$tmp/$name-48.png" "$tmp/$name-32.png" "$tmp/$name-16.png" "$tmp/$name-96.png" "$name.ico"
done
