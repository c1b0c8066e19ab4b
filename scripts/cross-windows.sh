#!/usr/bin/env bash
# Builds the operating-system seam, the raster engine and the framework core
# for Windows with mingw-w64, so that the Win32 side at least compiles and
# nothing above platform/ leans on this system. The picture libraries have no
# Windows build here, so the layers that use them are left out. Output in
# build-windows/.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-windows -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DPALVEX_CORE_ONLY=ON -DPALVEX_BUILD_TESTS=OFF -DPALVEX_BUILD_GUI=OFF >/dev/null
cmake --build build-windows -j 2 --target palvex_platform palvex_raster palvex_framework
