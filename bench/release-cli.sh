#!/usr/bin/env bash
# Prints the path of the palvex-cli that benchmarks time: PALVEX_CLI when set,
# else a release build in build-bench-release/, built first.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "${PALVEX_CLI:-}" ]; then
  echo "$PALVEX_CLI"
  exit
fi
cmake -S . -B build-bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVEX_BUILD_GUI=OFF \
  -DPALVEX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench-release --target palvex-cli -j 2 >/dev/null
echo "$(pwd)/build-bench-release/app/palvex-cli"
