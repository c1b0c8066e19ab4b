#!/usr/bin/env bash
# Draws the 16x16 language pictures of the language chooser (Czech, English).
# Run from any folder; writes czech.png and english.png next to this script.
set -euo pipefail
cd "$(dirname "$0")"
IM=/usr/bin/convert

# Czech: white over red, a blue wedge from the hoist to the middle, a grey edge.
$IM -size 16x16 xc:none \
  -fill white -draw "rectangle 0,2 15,7" \
  -fill '#D7141A' -draw "rectangle 0,8 15,13" \
  -fill '#11457E' -draw "polygon 0,2 7,8 0,13" \
  -fill none -stroke '#808080' -strokewidth 1 -draw "rectangle 0,2 15,13" \
  -define png:exclude-chunks=date,time -strip PNG32:czech.png

# English: blue field, white and red diagonals, white cross with a red cross inside.
$IM -size 16x16 xc:none \
  -fill '#012169' -draw "rectangle 0,2 15,13" \
  -stroke white -strokewidth 3 -draw "line 0,2 15,13" -draw "line 0,13 15,2" \
  -stroke '#C8102E' -strokewidth 1 -draw "line 0,2 15,13" -draw "line 0,13 15,2" \
  -stroke none -fill white -draw "rectangle 6,2 9,13" -draw "rectangle 0,6 15,9" \
  -fill '#C8102E' -draw "rectangle 7,2 8,13" -draw "rectangle 0,7 15,8" \
  -fill none -stroke '#808080' -strokewidth 1 -draw "rectangle 0,2 15,13" \
  -define png:exclude-chunks=date,time -strip PNG32:english.png
