#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: packages already present are left alone. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libjpeg62-turbo-dev libpng-dev libtiff-dev libgif-dev zlib1g-dev liblcms2-dev liblcms2-utils
  libfreetype-dev libfontconfig-dev fonts-liberation2
  qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libjpeg-turbo-progs libtiff-tools imagemagick openimageio-tools ffmpeg libvips-tools
  xvfb xauth time python3
  desktop-file-utils appstream man-db shared-mime-info librsvg2-bin dpkg-dev
  debootstrap xdg-utils libgtk-3-bin
  libxml2-utils
  g++-mingw-w64-x86-64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]} (run this script as root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
