#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG drawings into
# packaging/icons/hicolor/, which is committed: building needs no SVG renderer.
# 16 to 24 pixels come from the drawing made for the pixel grid.
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"

id=cz.korvane.Palvex
for size in 16 22 24 32 48 64 128 256; do
  source=$id.svg
  [ "$size" -le 24 ] && source=$id-small.svg
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" --output "hicolor/${size}x${size}/apps/$id.png" "$source"
done
