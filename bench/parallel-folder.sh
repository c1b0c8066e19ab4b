#!/usr/bin/env bash
# A folder of photos of 12 to 24 megapixels reduced for a 10x15 cm print (long
# side 1536, quality 90): palvex-cli with one job and with one job per
# processor, against vipsthumbnail and ImageMagick's mogrify with all their
# threads, side by side in one run.
#
#   bench/parallel-folder.sh     RUNS=5 PALVEX_CLI=path PHOTOS=30 JOBS=$(nproc)
#
# Prints per program the median wall and processor times in ms, photos per
# second and the peak resident memory; then the parallel run's throughput over
# the single job's against 0.85 x JOBS, and whether it beats every peer's wall
# time. The photos are made here, the same bytes every time: one noisy fractal
# of 6000x4000, cut losslessly (jpegtran) into crops of the camera sizes,
# mirrored and turned upright.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
runs=${RUNS:-5}
photos=${PHOTOS:-30}
jobs=${JOBS:-$(nproc)}

need_packages=()
command -v jpegtran >/dev/null || need_packages+=(libjpeg-turbo-progs)
[ -x /usr/bin/convert ] || need_packages+=(imagemagick)
command -v vipsthumbnail >/dev/null || need_packages+=(libvips-tools)
if [ ${#need_packages[@]} -gt 0 ]; then
  echo "installing ${need_packages[*]}" >&2
  apt-get install -y "${need_packages[@]}" >/dev/null
fi
# The peers use every processor, as they do by default.
unset MAGICK_THREAD_LIMIT VIPS_CONCURRENCY OMP_NUM_THREADS

bench_cli

work=$(mktemp -d "${TMPDIR:-/tmp}/palvex-parallel-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos"
echo "making $photos photos..." >&2
/usr/bin/convert -size 1500x1000 -seed 1 plasma:fractal -blur 0x2 -resize '6000x4000!' -seed 2 -attenuate 0.6 \
  +noise Gaussian -sampling-factor 2x2 -quality 92 "$work/base.jpg"
sizes=(4000x3000 4608x3456 5184x3456 5472x3648 6000x4000)
for i in $(seq 0 $((photos - 1))); do
  size=${sizes[$((i % ${#sizes[@]}))]}
  w=${size%x*} h=${size#*x}
  # Offsets on the 16-pixel blocks, so that the crop is exact.
  x=$(((6000 - w) * (i * 7 % 11) / 10 / 16 * 16))
  y=$(((4000 - h) * (i * 3 % 7) / 6 / 16 * 16))
  name=$(printf 'IMG_%04d.jpg' $((i + 1)))
  jpegtran -copy none -crop "${w}x${h}+${x}+${y}" -outfile "$work/crop.jpg" "$work/base.jpg"
  case $((i % 4)) in
    1) jpegtran -copy none -flip horizontal -trim -outfile "$work/photos/$name" "$work/crop.jpg" ;;
    3) jpegtran -copy none -transpose -trim -outfile "$work/photos/$name" "$work/crop.jpg" ;;
    *) mv "$work/crop.jpg" "$work/photos/$name" ;;
  esac
done
megapixels=$(identify -format '%w %h\n' "$work"/photos/*.jpg |
  awk '{s += $1 * $2; if (min == "" || $1 * $2 < min) min = $1 * $2; if ($1 * $2 > max) max = $1 * $2}
       END {printf "%.1f to %.1f, %.0f in all", min / 1e6, max / 1e6, s / 1e6}')

programs=("palvex --jobs 1" "palvex --jobs $jobs" vipsthumbnail mogrify)
run_program() {
  local out="$work/out"
  rm -rf "$out" "$work/photos"/*_90q*.jpg
  mkdir "$out"
  case $1 in
    "palvex --jobs "*) measure "$cli" "$work/photos" --folder /photo1015 --jobs "${1##* }" ;;
    vipsthumbnail) measure vipsthumbnail -s 1536 -o "$out/%s.jpg[Q=90]" "$work"/photos/*.jpg ;;
    mogrify) measure /usr/bin/mogrify -path "$out" -resize 1536x1536 -quality 90 "$work"/photos/*.jpg ;;
  esac >"$work/measured"
  local written
  written=$(($(find "$out" -name '*.jpg' | wc -l) + $(find "$work/photos" -name '*_90q*.jpg' | wc -l)))
  [ "$written" -eq "$photos" ] || { echo "$1 wrote $written files instead of $photos" >&2; exit 1; }
}

median() { tr ' ' '\n' <<<"$1" | grep . | sort -n |
  awk '{a[NR]=$1} END {printf "%.1f\n", (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

echo "load before: $(uptime)"
declare -A wall cpu peak
# Side by side, alternating, so that the machine's load falls on all alike.
for run in $(seq "$runs"); do
  for p in "${programs[@]}"; do
    run_program "$p"
    { read -r code w c kib; read -r said; } <"$work/measured"
    [ "$code" -eq 0 ] || { echo "$p failed: $said" >&2; exit 1; }
    wall[$p]+="$w " cpu[$p]+="$c "
    [ "${peak[$p]:-0}" -ge "$kib" ] || peak[$p]=$kib
  done
done
echo "load after:  $(uptime)"

echo "$photos photos of $megapixels megapixels, long side to 1536, quality 90; $runs runs, medians"
printf '%-20s %10s %10s %9s %9s\n' program wall-ms cpu-ms photos/s peak-MB
declare -A median_wall
for p in "${programs[@]}"; do
  median_wall[$p]=$(median "${wall[$p]}")
  printf '%-20s %10s %10s %9s %9s\n' "$p" "${median_wall[$p]}" "$(median "${cpu[$p]}")" \
    "$(awk -v n="$photos" -v w="${median_wall[$p]}" 'BEGIN {printf "%.2f", n * 1000 / w}')" \
    "$(awk -v k="${peak[$p]}" 'BEGIN {printf "%.0f", k / 1024}')"
done
single=${median_wall["palvex --jobs 1"]}
parallel=${median_wall["palvex --jobs $jobs"]}
verdict=ok
ratio=$(awk -v a="$single" -v b="$parallel" 'BEGIN {printf "%.2f", a / b}')
target=$(awk -v n="$jobs" 'BEGIN {printf "%.2f", 0.85 * n}')
awk -v r="$ratio" -v t="$target" 'BEGIN {exit !(r < t)}' && verdict=MISS
echo "throughput with $jobs jobs over one job: ${ratio}x (target ${target}x) $verdict"
for p in vipsthumbnail mogrify; do
  verdict=ok
  awk -v a="$parallel" -v b="${median_wall[$p]}" 'BEGIN {exit !(a >= b)}' && verdict=MISS
  echo "palvex --jobs $jobs against $p: $(awk -v a="$parallel" -v b="${median_wall[$p]}" \
    'BEGIN {printf "%.2f", a / b}') of its wall time $verdict"
done
