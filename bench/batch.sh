#!/usr/bin/env bash
# Times palvex-cli on large JPEG photos against the cost of decoding them and
# against other reducers doing the same job on one thread.
#
#   bench/batch.sh [FOLDER]      FOLDER holds JPEG photos; without it the
#                                5120x2880 photos of plasma-workspace-wallpapers
#   RUNS=5 PALVEX_CLI=path       runs per measurement, a prebuilt palvex-cli
#   CLOCK=cpu|wall               processor time (default) or wall clock
#
# Prints per photo and job the median time in ms of palvex-cli, of the
# baseline (djpeg -dct float; for "convert" djpeg piped into cjpeg), of each
# peer, the ratio palvex/baseline with its target, and palvex-cli's peak
# resident memory against 1.5 x the photo's 32-bit size + 40 MB.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}

need_packages=()
command -v djpeg >/dev/null || need_packages+=(libjpeg-turbo-progs)
[ -x /usr/bin/convert ] || need_packages+=(imagemagick)
command -v vipsthumbnail >/dev/null || need_packages+=(libvips-tools)
/usr/bin/python3 -c 'import PIL' 2>/dev/null || need_packages+=(python3-pil)
[ -x /usr/bin/time ] || need_packages+=(time)
if [ $# -eq 0 ] && [ ! -d /usr/share/wallpapers ]; then
  need_packages+=(plasma-workspace-wallpapers)
fi
if [ ${#need_packages[@]} -gt 0 ]; then
  echo "installing ${need_packages[*]}" >&2
  apt-get install -y "${need_packages[@]}" >/dev/null
fi

cli=$(bench/release-cli.sh)

work=$(mktemp -d "${TMPDIR:-/tmp}/palvex-batch-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos" "$work/peers"
if [ $# -gt 0 ]; then
  find "$1" -maxdepth 1 -type f -iname '*.jpg' -exec cp {} "$work/photos/" \;
else
  n=0
  while IFS= read -r f; do
    # The wallpaper's folder names the photo: Flow/contents/images_dark/5120x2880.jpg is Flow-dark.
    name=${f#/usr/share/wallpapers/}
    name=${name%%/*}
    case $f in */images_dark/*) name="$name-dark" ;; esac
    cp "$f" "$work/photos/$name.jpg"
    n=$((n + 1))
  done < <(find /usr/share/wallpapers -name '5120x2880.jpg' | sort)
  [ "$n" -gt 0 ] || { echo "no 5120x2880 JPEG photos found" >&2; exit 1; }
fi

export MAGICK_THREAD_LIMIT=1 VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1

time_ms() {
  /usr/bin/python3 bench/timer.py "${CLOCK:-cpu}" "$@" || { echo "failed: $*" >&2; exit 1; }
}
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{a[NR]=$1} END {printf "%.1f\n", (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# Pillow: in out width height quality filter
cat >"$work/pillow.py" <<'EOF'
import sys
from PIL import Image
src, out, w, h, q, f = sys.argv[1:]
im = Image.open(src)
w, h = int(w), int(h)
if (w, h) != im.size:
    im = im.resize((w, h), Image.LANCZOS if f == "lanczos" else Image.BOX)
im.save(out, quality=int(q))
EOF

printf '%-14s %-8s %8s %8s %6s %6s %8s %8s %8s %8s %8s %8s %8s  %s\n' \
  photo job palvex base ratio target im im-box vips pil-lz pil-box rss-MB rss-max verdict
for photo in "$work"/photos/*.jpg; do
  name=$(basename "$photo" .jpg)
  read -r W H < <(/usr/bin/identify -format '%w %h\n' "$photo")
  for job in screen print convert; do
    dir="$work/$job"
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$photo" "$dir/p.jpg"
    out="$work/peers/out.jpg"
    case $job in
      screen)
        options=(/keepaspectratio /width=800 /height=600 /quality=50 /process=1)
        target=1.25 q=50 box=800x600
        if [ $((W * 600)) -ge $((H * 800)) ]; then pw=800 ph=$(((H * 800 + W / 2) / W)); else ph=600 pw=$(((W * 600 + H / 2) / H)); fi
        ;;
      print)
        options=(/photo1015)
        target=1.35 q=90 box=1536x1536
        if [ "$W" -ge "$H" ]; then pw=1536 ph=$(((H * 1536 + W / 2) / W)); else ph=1536 pw=$(((W * 1536 + H / 2) / H)); fi
        ;;
      convert)
        options=(/convert)
        target=1.15 q=100 box=${W}x${H} pw=$W ph=$H
        ;;
    esac
    declare -A t=()
    for _ in $(seq "$runs"); do
      rm -f "$dir"/p_*.jpg
      t[palvex]+=" $(time_ms "$cli" "$dir/p.jpg" "${options[@]}")"
      if [ "$job" = convert ]; then
        t[base]+=" $(time_ms sh -c "djpeg -dct float '$photo' | cjpeg -quality 100 -baseline -dct float > '$out'")"
        t[im]+=" $(time_ms /usr/bin/convert "$photo" -quality $q "$out")"
        t[imbox]+=" $(time_ms /usr/bin/convert "$photo" -filter Box -quality $q "$out")"
      else
        t[base]+=" $(time_ms djpeg -dct float -outfile /dev/null "$photo")"
        t[im]+=" $(time_ms /usr/bin/convert "$photo" -resize "$box" -quality $q "$out")"
        t[imbox]+=" $(time_ms /usr/bin/convert "$photo" -filter Box -resize "$box" -quality $q "$out")"
      fi
      t[vips]+=" $(time_ms vipsthumbnail "$photo" -s "$box" -o "$out[Q=$q]")"
      t[pillz]+=" $(time_ms /usr/bin/python3 "$work/pillow.py" "$photo" "$out" $pw $ph $q lanczos)"
      t[pilbox]+=" $(time_ms /usr/bin/python3 "$work/pillow.py" "$photo" "$out" $pw $ph $q box)"
    done
    declare -A m=()
    for k in palvex base im imbox vips pillz pilbox; do m[$k]=$(echo "${t[$k]}" | median); done
    rm -f "$dir"/p_*.jpg
    rss_kb=$(/usr/bin/time -v "$cli" "$dir/p.jpg" "${options[@]}" 2>&1 >/dev/null |
      awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
    rss_max_mb=$(awk -v w="$W" -v h="$H" 'BEGIN {printf "%.1f", 1.5 * w * h * 4 / 1048576 + 40}')
    rss_mb=$(awk -v k="$rss_kb" 'BEGIN {printf "%.1f", k / 1024}')
    ratio=$(awk -v a="${m[palvex]}" -v b="${m[base]}" 'BEGIN {printf "%.2f", a / b}')
    misses=()
    awk -v r="$ratio" -v t="$target" 'BEGIN {exit !(r > t)}' && misses+=(over-target)
    for k in im imbox vips pillz pilbox; do
      awk -v a="${m[palvex]}" -v b="${m[$k]}" 'BEGIN {exit !(a < b)}' || misses+=("not-faster-than-$k")
    done
    awk -v a="$rss_mb" -v b="$rss_max_mb" 'BEGIN {exit !(a > b)}' && misses+=(memory)
    verdict=ok
    [ ${#misses[@]} -eq 0 ] || verdict=$(IFS=,; echo "MISS:${misses[*]}")
    printf '%-14s %-8s %8s %8s %6s %6s %8s %8s %8s %8s %8s %8s %8s  %s\n' "$name" "$job" "${m[palvex]}" \
      "${m[base]}" "$ratio" "$target" "${m[im]}" "${m[imbox]}" "${m[vips]}" "${m[pillz]}" "${m[pilbox]}" \
      "$rss_mb" "$rss_max_mb" "$verdict"
    unset t m
  done
done
