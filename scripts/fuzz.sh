#!/usr/bin/env bash
# Runs one reader's libFuzzer target for a while, seeded from the samples of tests/data.
#   scripts/fuzz.sh EXT SECONDS     e.g. scripts/fuzz.sh png 900
# Findings land in build-fuzz/findings/EXT/; copy each crash into
# tests/fuzz/regressions/EXT/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
ext=$1
seconds=${2:-600}
declare -A dirs=([bmp]=bmp [ico]=ico [jpg]=jpeg [png]=png [gif]=gif [tif]=tif [fax]=fax [tga]=tga
                 [pcx]=pcx [sgi]=sgi [psd]=psd [ppm]=pnm [wmf]=wmf [emf]=emf [eps]=eps
                 [rla]=rla [cel]=cel [pcd]=pcd [cut]=cut [psp]=psp [metadata]=icc)
# A Photo CD's Base level lies 768 KB into the file, its residual levels after it.
max_len=262144
[ "$ext" = pcd ] && max_len=900000
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DPALVEX_FUZZ=ON -DPALVEX_BUILD_GUI=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target "fuzz_$ext" -j 2
work=build-fuzz/corpus/$ext
mkdir -p "$work" "build-fuzz/findings/$ext"
find "tests/data/${dirs[$ext]}" -maxdepth 1 -type f -exec cp -n {} "$work/" \;
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  "./build-fuzz/tests/fuzz/fuzz_$ext" "$work" -max_total_time="$seconds" -rss_limit_mb=4096 \
  -malloc_limit_mb=4096 -timeout=60 -max_len=$max_len -artifact_prefix="build-fuzz/findings/$ext/" \
  -print_final_stats=1
