#!/usr/bin/env bash
# Takes PNGs of the desktop program's windows under Xvfb, for a look by eye:
# the main window in Czech and English with a listed folder and a preview (also
# of a photo stored sideways, which must show upright), the
# folder chooser, the open-picture dialog, and the progress window during a run
# of large photos (made here with ImageMagick), the integration dialog in
# Czech and English; then the same at 200 % scale.
#   scripts/screenshots.sh [OUT_FOLDER]     (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}

# The shots program sits with the tests; scripts/run-samples.sh turns them off in build/.
cmake -S . -B build -G Ninja -DPALVEX_BUILD_TESTS=ON >/dev/null
cmake --build build --target ui_window_shots integration_dialog_shots >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos"
# The samples and a photo stored sideways, as a camera stores a portrait: the
# landscape's pixels with an EXIF segment (Orientation 6) after its JFIF one.
cp -r samples "$work/pictures"
{
  head -c 20 samples/landscape.jpg
  printf '\xff\xe1\x00\x22Exif\x00\x00MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00'
  tail -c +21 samples/landscape.jpg
} > "$work/pictures/turned.jpg"
# Four 5120x2880 photos: smooth gradients under noise, so the JPEG files are
# as large as a camera's.
for i in 1 2 3 4; do
  convert -size 5120x2880 -seed "$i" "gradient:#1d3c6e-#e8a33d" \
    \( -size 5120x2880 xc:gray50 +noise Gaussian -colorspace gray \) \
    -compose overlay -composite -quality 92 "$work/photos/photo$i.jpg"
done

run() { # folder, extra environment
  local dir=$1
  shift
  mkdir -p "$dir"
  env "$@" xvfb-run -a -s "-screen 0 2600x2000x24" \
    build/tests/ui/ui_window_shots "$dir" "$work/pictures" "$work/photos"
  env "$@" xvfb-run -a -s "-screen 0 2600x2000x24" \
    build/tests/shell/windows/integration_dialog_shots "$dir"
}
run "$out"
run "$out/scale2" QT_SCALE_FACTOR=2
echo "screenshots in $out and $out/scale2"
