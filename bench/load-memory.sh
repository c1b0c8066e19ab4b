#!/bin/sh
# Peak resident memory of LoadPictureFile on a 12-megapixel JPEG,
# against the budget of 1.5 x its 32-bit size plus 40 MiB.
#
#   bench/load-memory.sh [JPEG]
#
# Without an argument it makes bench-photo-4240x2832.jpg in the build folder
# from a photo of Debian's plasma-workspace-wallpapers (boats on a lake shore
# at dusk), cropped to 3:2 and scaled with ImageMagick, written as a camera
# would: baseline, 4:2:0, quality 92.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build-bench"}
photo_source=/usr/share/wallpapers/EveningGlow/contents/images/2560x1600.jpg

if [ ! -x /usr/bin/time ]; then
    echo "needs /usr/bin/time (apt-get install time)" >&2
    exit 1
fi

if [ $# -ge 1 ]; then
    jpeg=$1
else
    if [ ! -f "$photo_source" ]; then
        if [ "$(id -u)" -ne 0 ]; then
            echo "needs $photo_source: apt-get install plasma-workspace-wallpapers" >&2
            exit 1
        fi
        apt-get install -y plasma-workspace-wallpapers >/dev/null
    fi
    mkdir -p "$build"
    jpeg="$build/bench-photo-4240x2832.jpg"
    if [ ! -f "$jpeg" ]; then
        # 2396x1600 is the widest 3:2 cut of the 16:10 picture.
        /usr/bin/convert "$photo_source" -gravity center -crop 2396x1600+0+0 +repage \
            -resize '4240x2832!' -sampling-factor 2x2 -interlace none -quality 92 "$jpeg"
    fi
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVEX_BUILD_BENCH=ON \
    -DPALVEX_BUILD_TESTS=OFF -DPALVEX_BUILD_GUI=OFF >/dev/null
ninja -C "$build" -j2 bench_load_memory >/dev/null

report=$(mktemp)
trap 'rm -f "$report"' EXIT
/usr/bin/time -v "$build/bench/bench_load_memory" "$jpeg" 2>"$report" >/dev/null || {
    cat "$report" >&2
    exit 1
}

size=$(identify -format '%w %h' "$jpeg" 2>/dev/null || true)
if [ -z "$size" ]; then
    size=$("$build/bench/bench_load_memory" "$jpeg" | sed -n 's/^loaded \([0-9]*\)x\([0-9]*\)$/\1 \2/p')
fi
set -- $size
width=$1
height=$2
peak_kib=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$report")
file_bytes=$(stat -c %s "$jpeg")

awk -v w="$width" -v h="$height" -v peak="$peak_kib" -v file="$file_bytes" -v name="$jpeg" 'BEGIN {
    mib = 1048576
    pixels = w * h * 4 / mib
    budget = 1.5 * pixels + 40
    got = peak * 1024 / mib
    printf "picture:      %s (%dx%d, %.1f MiB on disk)\n", name, w, h, file / mib
    printf "32-bit size:  %.1f MiB\n", pixels
    printf "peak RSS:     %.1f MiB\n", got
    printf "budget:       %.1f MiB (1.5 x 32-bit size + 40 MiB)\n", budget
    printf "result:       %s (%.2f x the 32-bit size)\n", got <= budget ? "within budget" : "OVER BUDGET", got / pixels
    exit got <= budget ? 0 : 1
}'
