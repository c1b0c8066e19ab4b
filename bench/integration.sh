#!/bin/sh
# Times a full shell integration (41 file types x 15 presets: the verbs in the
# store and every file manager's entries) and its removal, each against 100 ms,
# beside the store written one change at a time as it was before the batch.
#
#   bench/integration.sh [FOLDER] [RUNS]
#
# FOLDER holds the temporary home (default: under $TMPDIR or /tmp); put it on
# the disk a home would be on, since every write is flushed to the disk.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build-bench"}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVEX_BUILD_BENCH=ON \
    -DPALVEX_BUILD_TESTS=OFF -DPALVEX_BUILD_GUI=OFF >/dev/null
ninja -C "$build" -j2 bench_integration >/dev/null

folder=${1:-"${TMPDIR:-/tmp}/palvex-bench-integration-$$"}
exec "$build/bench/bench_integration" "$folder" "${2:-11}"
