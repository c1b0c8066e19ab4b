#!/usr/bin/env bash
# Remakes the sample pictures in samples/ from ImageMagick's generated patterns
# (seeded plasma fractals, gradients and drawn shapes), so that every sample is
# the project's own. The committed files came from this script.
set -euo pipefail
cd "$(dirname "$0")/../samples"
im=/usr/bin/convert

"$im" -seed 7 -size 640x480 plasma:fractal -blur 0x1 -quality 92 landscape.jpg
"$im" -seed 11 -size 480x640 plasma:fractal -quality 90 portrait.jpg
"$im" -size 320x200 gradient:navy-gold -fill white -draw "circle 160,100 160,40" -type TrueColor BMP3:sunrise.bmp
"$im" -seed 3 -size 200x200 plasma:fractal -fill none -stroke black -strokewidth 4 -draw "rectangle 20,20 180,180" shapes.png
"$im" -size 256x64 gradient:red-blue -colors 64 banner.gif
"$im" -seed 5 -size 300x200 plasma:fractal -compress LZW tiles.tif
"$im" -size 160x120 radial-gradient:white-darkgreen -compress RLE ring.tga
"$im" -seed 9 -size 128x96 plasma:fractal -compress RLE dots.pcx
"$im" -size 90x60 gradient:black-white gray.pgm
