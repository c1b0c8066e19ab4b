#!/usr/bin/env bash
# Builds the project and runs the whole test suite.
#   scripts/test.sh             release build with debug info, in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DPALVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

# Tests on explicitly: scripts/run-samples.sh shares build/ and turns them off.
cmake -S . -B "$dir" -G Ninja -DPALVEX_BUILD_TESTS=ON "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" -j "$(nproc)" --output-on-failure --no-tests=error
