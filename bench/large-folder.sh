#!/usr/bin/env bash
# Times a folder run over 2,000 small pictures into a folder that already holds
# 20,000 other files, against the same run into a folder of the pictures alone.
# The free-name test must not list the folder for every name: target 1.2x.
#
#   bench/large-folder.sh        RUNS=5 PALVEX_CLI=path PICTURES=2000 OTHERS=20000
#
# Prints the median wall-clock and processor (user + system) times of both
# runs in ms and their ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}
pictures=${PICTURES:-2000}
others=${OTHERS:-20000}

command -v cjpeg >/dev/null || apt-get install -y libjpeg-turbo-progs >/dev/null

cli=$(bench/release-cli.sh)

work=$(mktemp -d "${TMPDIR:-/tmp}/palvex-folder-XXXXXX")
trap 'rm -rf "$work"' EXIT

# One 64x48 picture, copied under every name.
/usr/bin/python3 -c '
import sys
w, h = 64, 48
pixels = b"".join(bytes((x * 4 % 256, y * 5 % 256, x * y % 256)) for y in range(h) for x in range(w))
open(sys.argv[1], "wb").write(b"P6\n%d %d\n255\n" % (w, h) + pixels)
' "$work/p.ppm"
cjpeg -quality 90 -outfile "$work/p.jpg" "$work/p.ppm"
for folder in alone crowded; do
  mkdir "$work/$folder"
  for i in $(seq -w 1 "$pictures"); do cp "$work/p.jpg" "$work/$folder/IMG_$i.jpg"; done
done
# Files that are no source of the run (not *.jpg) but that the free-name test sees.
(cd "$work/crowded" && seq -w 1 "$others" | sed 's/^/other-/; s/$/.png/' | xargs touch)

median() { tr ' ' '\n' <<<"$1" | grep . | sort -n |
  awk '{a[NR]=$1} END {printf "%.1f\n", (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

declare -A wall cpu
# Side by side, alternating, so that the machine's load falls on both alike.
for run in $(seq "$runs"); do
  for folder in alone crowded; do
    find "$work/$folder" -name 'IMG_*_64x48_100q.jpg' -delete
    sync
    read -r w c < <(/usr/bin/python3 bench/timer.py both "$cli" "$work/$folder" --folder --convert) ||
      { echo "palvex-cli failed on $folder" >&2; exit 1; }
    wall[$folder]+="$w "
    cpu[$folder]+="$c "
  done
done
written=$(find "$work/crowded" -name 'IMG_*_64x48_100q.jpg' | wc -l)
[ "$written" -eq "$pictures" ] || { echo "$written outputs instead of $pictures" >&2; exit 1; }

printf '%-36s %10s %10s\n' "folder run over $pictures pictures" "wall ms" "cpu ms"
printf '%-36s %10s %10s\n' "into the pictures' folder alone" "$(median "${wall[alone]}")" "$(median "${cpu[alone]}")"
printf '%-36s %10s %10s\n' "with $others other files in it" "$(median "${wall[crowded]}")" "$(median "${cpu[crowded]}")"
awk -v a="$(median "${wall[alone]}")" -v b="$(median "${wall[crowded]}")" \
  -v c="$(median "${cpu[alone]}")" -v d="$(median "${cpu[crowded]}")" \
  'BEGIN { printf "%-36s %9.2fx %9.2fx   (target <= 1.2x)\n", "crowded / alone", b / a, d / c }'
