#!/usr/bin/env bash
# Peak resident memory and time of `palvex-cli FILE /photo1015` on a
# 6000x4000 picture in each readable format, against the budgets: every run
# within 1.5 x the picture's 32-bit size + 40 MiB, and the formats read row
# by row within 40 MiB + their file size.
#
#   bench/memory-table.sh                 builds palvex-cli (Release) and runs it
#   PALVEX_CLI=path                       a prebuilt palvex-cli instead
#   OLD_CLI=path                          also an older palvex-cli, run side by
#                                         side with the first: both tables
#   RUNS=5                                runs per format and program (median)
#
# The inputs are made here with ImageMagick from one seeded plasma picture
# with noise (photo-like to the compressors), kept in build-bench-inputs/.
# Times are processor time (user + system) of the whole process, medians.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/common.sh
. bench/common.sh
root=$(pwd)
runs=${RUNS:-5}
im=/usr/bin/convert

for tool in "$im" /usr/bin/python3; do
  [ -x "$tool" ] || { echo "needs $tool (scripts/setup.sh installs it)" >&2; exit 1; }
done
bench_cli
old=${OLD_CLI:-}

inputs=$root/build-bench-inputs
mkdir -p "$inputs"
make_input() { # name format [ImageMagick options]
  local name=$1 format=$2
  shift 2
  if [ ! -f "$inputs/$name" ]; then
    nice "$im" "$inputs/base.ppm" "$@" "$format:$inputs/$name.part"
    mv "$inputs/$name.part" "$inputs/$name"
  fi
}
if [ ! -f "$inputs/base.ppm" ]; then
  echo "making the 6000x4000 inputs (a few minutes, once)" >&2
  nice "$im" -seed 7 -size 1500x1000 plasma:fractal -blur 0x1 -resize '6000x4000!' \
    -seed 3 -attenuate 0.6 +noise Gaussian -depth 8 "PPM:$inputs/base.ppm.part"
  mv "$inputs/base.ppm.part" "$inputs/base.ppm"
fi
make_input baseline.jpg JPEG -sampling-factor 2x2 -interlace none -quality 92
make_input progress.jpg JPEG -sampling-factor 2x2 -interlace JPEG -quality 92
make_input rgb8.png PNG24 -depth 8
make_input rgb16.png PNG48 -depth 16
make_input interl.png PNG24 -depth 8 -interlace PNG
make_input strips.tif TIFF -depth 8 -compress LZW -define tiff:rows-per-strip=16
make_input tiles.tif TIFF -depth 8 -compress LZW -define tiff:tile-geometry=256x256
make_input rle.tga TGA -compress RLE
make_input rgb.pcx PCX
make_input rle.sgi SGI -compress RLE
make_input rle.psd PSD -compress RLE
make_input raw.ppm PPM
make_input bottom.bmp BMP3
make_input dither.gif GIF -dither None -colors 256
# Each file and how its reader takes it: row by row, or the whole picture once.
formats=(
  "baseline.jpg rows" "progress.jpg whole" "rgb8.png rows" "rgb16.png rows" "interl.png whole"
  "strips.tif rows" "tiles.tif rows" "rle.tga rows" "rgb.pcx rows" "rle.sgi rows" "rle.psd rows"
  "raw.ppm rows" "bottom.bmp rows" "dither.gif rows"
)

work=$(mktemp -d "${TMPDIR:-/tmp}/palvex-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT

# One run: prints "peak-KiB cpu-seconds".
run_once() { # cli file
  local dir=$work/run code cpu kib message
  rm -rf "$dir"
  mkdir -p "$dir"
  ln -s "$2" "$dir/$(basename "$2")"
  { read -r code _ cpu kib; read -r message; } < <(measure "$1" "$dir/$(basename "$2")" /photo1015)
  [ "$code" = 0 ] || { echo "failed: $1 $2: $message" >&2; exit 1; }
  awk -v k="$kib" -v c="$cpu" 'BEGIN {printf "%d %.4f\n", k, c / 1000}'
}
median() { sort -n | awk '{a[NR]=$1} END {printf "%.3f\n", (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

programs=(new)
[ -n "$old" ] && programs=(old new)
declare -A peak cpu
for entry in "${formats[@]}"; do
  read -r name _ <<<"$entry"
  for p in "${programs[@]}"; do : >"$work/$p.rss"; : >"$work/$p.cpu"; done
  for _ in $(seq "$runs"); do
    for p in "${programs[@]}"; do
      bin=$cli
      [ "$p" = old ] && bin=$old
      read -r kib sec < <(run_once "$bin" "$inputs/$name")
      echo "$kib" >>"$work/$p.rss"
      echo "$sec" >>"$work/$p.cpu"
    done
  done
  for p in "${programs[@]}"; do
    peak[$p,$name]=$(sort -n "$work/$p.rss" | tail -1)
    cpu[$p,$name]=$(median <"$work/$p.cpu")
  done
done

mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
pixels_mib=$(awk 'BEGIN {printf "%.1f", 6000 * 4000 * 4 / 1048576}')
whole_budget=$(awk -v p="$pixels_mib" 'BEGIN {printf "%.1f", 1.5 * p + 40}')
status=0
for p in "${programs[@]}"; do
  echo
  echo "palvex-cli FILE /photo1015 on 6000x4000 ($p: $([ "$p" = old ] && echo "$old" || echo "$cli"), $runs runs)"
  printf '%-14s %5s %9s %9s %9s %8s  %s\n' file read file-MiB peak-MiB budget cpu-ms verdict
  for entry in "${formats[@]}"; do
    read -r name _ <<<"$entry"
    read_mode=${entry##* }
    file_kib=$(( $(stat -c %s "$inputs/$name") / 1024 ))
    budget=$whole_budget
    if [ "$read_mode" = rows ]; then
      budget=$(awk -v f="$file_kib" -v w="$whole_budget" 'BEGIN {b = 40 + f / 1024; printf "%.1f", b < w ? b : w}')
    fi
    got=$(mib "${peak[$p,$name]}")
    verdict=ok
    awk -v a="$got" -v b="$budget" 'BEGIN {exit !(a > b)}' && verdict=OVER
    [ "$verdict" = ok ] || { [ "$p" = new ] && status=1; }
    printf '%-14s %5s %9s %9s %9s %8.0f  %s\n' "$name" "$read_mode" "$(mib "$file_kib")" "$got" "$budget" \
      "$(awk -v s="${cpu[$p,$name]}" 'BEGIN {print s * 1000}')" "$verdict"
  done
done
if [ -n "$old" ]; then
  echo
  echo "new / old processor time"
  for entry in "${formats[@]}"; do
    read -r name _ <<<"$entry"
    awk -v n="$name" -v a="${cpu[new,$name]}" -v b="${cpu[old,$name]}" 'BEGIN {printf "%-14s %.2f\n", n, a / b}'
  done
fi
exit $status
