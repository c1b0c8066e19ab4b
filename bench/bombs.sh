#!/usr/bin/env bash
# Picture bombs and lying headers against palvex-cli: small files that honestly
# decode to 16384x16384 pictures, and headers that declare more than their file
# holds (both made by bench/make-bombs.py). Prints the time and peak memory of
# `palvex-cli FILE /photo1015` on each, against the bounds: a bomb within
# 1.5 x its picture's 32-bit size + 40 MiB, a lie refused in under 50 ms (median
# of five runs) and 50 MiB.
#
#   bench/bombs.sh                 builds palvex-cli (Release) and runs it
#   PALVEX_CLI=path                a prebuilt palvex-cli instead
#   MAX_PIXELS=N                   adds --max-pixels=N to every run
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/common.sh
. bench/common.sh
[ -x /usr/bin/python3 ] || { echo "needs python3 (scripts/setup.sh installs it)" >&2; exit 1; }
bench_cli

work=$(mktemp -d "${TMPDIR:-/tmp}/palvex-bombs-XXXXXX")
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 bench/make-bombs.py "$work/in" >"$work/list"
extra=()
[ -n "${MAX_PIXELS:-}" ] && extra=(--max-pixels="$MAX_PIXELS")

status=0
printf '%-20s %9s %12s %6s %9s %9s %9s  %-8s %s\n' file bytes declared exit wall-ms peak-MiB bound verdict message
while read -r name w h; do
  dir=$work/run-$name
  mkdir -p "$dir"
  ln -s "$work/in/$name" "$dir/$name"
  # A lie is refused in milliseconds, so one run is at the mercy of the shared
  # machine's hiccups: lies take the median wall time of five runs.
  runs=1
  case $name in lie-*) runs=5 ;; esac
  walls=()
  for ((run = 0; run < runs; run++)); do
    { read -r code wall _ kib; read -r message; } < <(measure "$cli" "$dir/$name" /photo1015 "${extra[@]}")
    walls+=("$wall")
  done
  wall=$(printf '%s\n' "${walls[@]}" | sort -g | awk '{w[NR] = $1} END {print w[int((NR + 1) / 2)]}')
  peak=$(awk -v k="$kib" 'BEGIN {printf "%.1f", k / 1024}')
  bytes=$(stat -c %s "$work/in/$name")
  case $name in
    bomb-*)
      bound=$(awk -v w="$w" -v h="$h" 'BEGIN {printf "%.1f", 1.5 * w * h * 4 / 1048576 + 40}')
      verdict=ok
      awk -v a="$peak" -v b="$bound" 'BEGIN {exit !(a > b)}' && verdict=OVER
      [ "$code" = 0 ] || [ -n "${MAX_PIXELS:-}" ] || verdict=FAILED
      ;;
    *)
      bound="50 ms/50"
      verdict=ok
      awk -v t="$wall" -v m="$peak" 'BEGIN {exit !(t >= 50 || m >= 50)}' && verdict=OVER
      [ "$code" != 0 ] || verdict=READ
      ;;
  esac
  [ "$verdict" = ok ] || status=1
  printf '%-20s %9s %12s %6s %9s %9s %9s  %-8s %s\n' "$name" "$bytes" "${w}x${h}" "$code" "$wall" "$peak" "$bound" \
    "$verdict" "${message:0:70}"
done <"$work/list"
exit $status
