#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 and takes it out again:
#   scripts/check-deb.sh PACKAGE.deb [BASE_DIR]
# BASE_DIR holds a minimal Debian 12 made by debootstrap (made there when it is
# missing; needs the network). Each step works on a fresh copy of it, chrooted,
# as root:
#  1. on the untouched copy, apt-get install ./palvex_*.deb (apt fetches the
#     dependencies), then palvex-cli from PATH on a picture;
#  2. on a second copy that already has the dependencies (and, for a package
#     with a desktop entry, the programs that keep the menu, MIME and icon
#     caches): install, see the caches take the package in, apt-get remove,
#     and then no file of the package, no dpkg record of it and no trace of it
#     may be left, and every other file must be as it was before.
set -euo pipefail
deb=$(realpath "$1")
base=${2:-/var/tmp/palvex-debian12}
samples=$(realpath "$(dirname "$0")/../samples")
name=$(basename "$deb")

if [ ! -x "$base/usr/bin/apt-get" ]; then
  debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian >/dev/null
fi
work=""
cleanup() {
  if [ -n "$work" ]; then
    umount "$work/proc" 2>/dev/null || true
    rm -rf --one-file-system "$work" "$work".*
  fi
}
trap cleanup EXIT
fresh_copy() {
  cleanup
  work=$(mktemp -d /var/tmp/palvex-chroot.XXXXXX)
  cp -a "$base/." "$work/"
  mount -t proc proc "$work/proc"
  cp /etc/resolv.conf "$work/etc/resolv.conf"
  cp "$deb" "$samples/landscape.jpg" "$work/tmp/"
  in_chroot apt-get update -qq
}
in_chroot() { chroot "$work" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive "$@"; }
# apt-get install, its output kept in $work.apt; fails as apt-get does.
apt_install() { in_chroot apt-get install -y -qq --no-install-recommends "$@" >"$work.apt" 2>&1; }

# Everything but the package manager's own records, logs and scratch space.
snapshot() {
  (cd "$work" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp -o -path ./var/log -o -path ./var/cache \
      -o -path ./var/lib/apt -o -path ./var/lib/dpkg \) -prune -o -type f -print0 | sort -z | xargs -0 md5sum
    find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp \) -prune -o -type l -printf '%p -> %l\n' | sort) >"$1"
}

status=0
echo "== 1. apt-get install ./$name on a clean Debian 12"
fresh_copy
apt_install "./tmp/$name" || { cat "$work.apt"; exit 1; }
grep -E "^Setting up palvex" "$work.apt" | sed 's/^/   /'
echo "   and $(grep -c '^Setting up' "$work.apt") packages set up in all"
echo "   palvex-cli from PATH: $(in_chroot sh -c 'command -v palvex-cli')"
in_chroot palvex-cli --version | sed -n '1s/^/   /p'
in_chroot palvex-cli /tmp/landscape.jpg --keep-aspect-ratio --width=320 --height=320 --quality=80 || status=1
in_chroot sh -c 'ls /tmp/landscape_*' | sed 's/^/   wrote /'

echo "== 2. apt-get remove palvex leaves nothing"
fresh_copy
depends=$(dpkg-deb --field "$deb" Depends | sed 's/([^)]*)//g; s/,/ /g; s/|[^ ]*//g')
desktop=$(dpkg-deb --contents "$deb" | awk '$6 ~ /applications\/.*\.desktop$/ {sub(/^\./, "", $6); print $6}')
if [ -n "$desktop" ]; then
  depends="$depends desktop-file-utils shared-mime-info hicolor-icon-theme libgtk-3-bin"
fi
if [ -n "${depends// /}" ]; then
  apt_install $depends || { cat "$work.apt"; exit 1; }
fi
snapshot "$work.before"
apt_install "./tmp/$name" || { cat "$work.apt"; exit 1; }
in_chroot dpkg -L palvex >"$work.files"
if [ -n "$desktop" ]; then
  app=$(basename "$desktop")
  grep -q "=.*$app" "$work/usr/share/applications/mimeinfo.cache" || { echo "$app is not in the menu's MIME cache"; status=1; }
  grep -q ':\*\.jfif$' "$work/usr/share/mime/globs2" || { echo "the MIME globs were not merged"; status=1; }
  grep -q "${app%.desktop}" "$work/usr/share/icons/hicolor/icon-theme.cache" || { echo "the icon is not in the icon cache"; status=1; }
  echo "   installed: $app in the menu's MIME cache, the MIME globs merged, the icon cached"
fi
in_chroot apt-get remove -y -qq palvex >"$work.apt" 2>&1 || { cat "$work.apt"; exit 1; }
grep -E "^Removing|triggers" "$work.apt" | sed 's/^/   /'
snapshot "$work.after"

left=$(while read -r f; do [ -e "$work$f" ] && [ ! -d "$work$f" ] && echo "$f"; done <"$work.files" || true)
[ -z "$left" ] || { echo "left behind: $left"; status=1; }
ls "$work"/var/lib/dpkg/info/palvex.* 2>/dev/null && { echo "dpkg still holds the files above"; status=1; }
state=$(in_chroot dpkg-query -W -f='${db:Status-Abbrev}' palvex 2>/dev/null || true)
case "$state" in "" | un*) ;; *) echo "dpkg state after removal: $state"; status=1 ;; esac
diff "$work.before" "$work.after" || { echo "files changed between before installation and after removal"; status=1; }
if grep -rlI -e 'palvex' -e 'korvane' "$work/usr/share" "$work/etc" 2>/dev/null; then
  echo "traces of the package above"
  status=1
fi
[ "$status" -eq 0 ] && echo "== clean: nothing of the package is left, every other file as before"
exit "$status"
