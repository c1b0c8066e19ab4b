#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR as a user would (cmake --install,
# prefix /usr), builds the Debian package, and checks what others read: the
# desktop entry, the AppStream data, the manual pages, the icons, the MIME
# globs, and that the package holds exactly what the installation holds.
#   scripts/check-install.sh [BUILD_DIR]   (default build/, configured if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
id=cz.korvane.Palvex

failures=0
fail() { echo "check-install: $*" >&2; failures=$((failures + 1)); }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dest=$scratch/root

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target palvex-cli palvex_packaging_files >/dev/null
gui=0
if grep -q '^PALVEX_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt" && [ -f app/Main.cpp ]; then
  gui=1
  cmake --build "$build" -j "$(nproc)" --target palvex >/dev/null
fi
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
usr=$dest/usr
[ "$gui" = 0 ] || [ -x "$usr/bin/palvex" ] || fail "palvex is built but not installed"

# The headless program runs from the installed tree.
version=$("$usr/bin/palvex-cli" --version) || fail "palvex-cli --version"
[[ $version == "palvex-cli "[0-9]* ]] || fail "palvex-cli --version: $version"
"$usr/bin/palvex-cli" --help >/dev/null || fail "palvex-cli --help"
[ -s "$usr/share/doc/palvex/copyright" ] || fail "no copyright file"

# Manual pages render without a single warning.
man_check() {
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$1" 2>&1 >/dev/null) || fail "man failed on $1"
  [ -z "$warnings" ] || fail "man warnings in $1: $warnings"
}
man_check "$usr/share/man/man1/palvex-cli.1.gz"

# The desktop files: validated where they are installed, or, while no desktop
# program is built, where the build wrote them.
if [ -x "$usr/bin/palvex" ]; then
  share=$usr/share
  desktop=$share/applications/$id.desktop
  metainfo=$share/metainfo/$id.metainfo.xml
  mime=$share/mime/packages/$id.xml
  icons=$share/icons/hicolor
  man_check "$share/man/man1/palvex.1.gz"
  # The desktop program answers these without a display, as scripts and packagers call them.
  version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$usr/bin/palvex" --version) ||
    fail "palvex --version"
  [[ $version == "palvex "[0-9]* ]] || fail "palvex --version: $version"
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$usr/bin/palvex" --help | grep -q '^Usage: palvex' ||
    fail "palvex --help"
else
  echo "check-install: palvex is not built; checking its files in $build/packaging" >&2
  desktop=$build/packaging/$id.desktop
  metainfo=$build/packaging/$id.metainfo.xml
  mime=$build/packaging/$id.xml
  icons=packaging/icons/hicolor
  man_check "$build/packaging/palvex.1.gz"
fi

out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -q '^Exec=palvex %f$' "$desktop" || fail "desktop entry: Exec"
# The menu entry, the window (the program sets the same id) and the software centre meet on one id and icon.
grep -q "^Icon=$id\$" "$desktop" || fail "desktop entry: Icon is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo: launchable"
out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1) || fail "appstreamcli: $out"

# Every icon size, each PNG as large as its folder says.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}'; }
for size in 16 22 24 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/$id.png
  if [ ! -f "$png" ]; then
    fail "missing icon $png"
  elif [ "$(png_size "$png")" != "${size}x${size}" ]; then
    fail "$png is $(png_size "$png")"
  fi
done
if [ -x "$usr/bin/palvex" ]; then
  [ -f "$icons/scalable/apps/$id.svg" ] || fail "missing scalable icon"
fi

# The MIME globs merge into the system database and name the types of the desktop entry.
mkdir -p "$scratch/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$mime" "$scratch/mime/packages/"
update-mime-database "$scratch/mime" >/dev/null 2>&1 || fail "update-mime-database refused $mime"
for glob in jfif pdd psp rla cel cut win; do
  type=$(awk -F: -v g="*.$glob" '$3 == g {print $2; exit}' "$scratch/mime/globs2")
  [ -n "$type" ] || fail "no MIME type for *.$glob"
  grep -q "^MimeType=.*$type;" "$desktop" || fail "desktop entry lacks $type (*.$glob)"
done

# The package holds what the installation holds, and its maintainer scripts.
(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack -G DEB"
deb=$(ls -t "$build"/palvex_*.deb 2>/dev/null | head -1)
if [ -n "$deb" ]; then
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "/", $6); print $6}' | sort >"$scratch/deb.list"
  (cd "$dest" && find . ! -type d | sed 's/^\.//' | sort) >"$scratch/install.list"
  diff "$scratch/install.list" "$scratch/deb.list" >&2 || fail "the package and cmake --install differ"
  [ "$(dpkg-deb --field "$deb" Package)" = palvex ] || fail "package name"
  dpkg-deb --info "$deb" postinst >/dev/null 2>&1 || fail "package lacks its postinst"
  echo "check-install: $(basename "$deb"): $(dpkg-deb --field "$deb" Depends)"
else
  fail "no package built"
fi

if [ "$failures" -gt 0 ]; then
  echo "check-install: $failures failure(s)" >&2
  exit 1
fi
echo "check-install: all checks passed"
