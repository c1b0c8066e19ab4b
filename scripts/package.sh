#!/usr/bin/env bash
# Builds the Debian package in build-deb/: a release build with Debian's
# hardening flags, palvex-cli linked to the shared picture libraries so that
# their security updates reach it, then cpack. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVEX_BUILD_TESTS=OFF \
  -DPALVEX_STATIC_CLI=OFF >/dev/null
cmake --build build-deb -j "$(nproc)"
rm -f build-deb/palvex_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
ls build-deb/palvex_*.deb
