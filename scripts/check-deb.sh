#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 and takes it out again:
#   scripts/check-deb.sh PACKAGE.deb [BASE_DIR]
# BASE_DIR holds a minimal Debian 12 made by debootstrap (made there when it is
# missing; needs the network). Each run works on a fresh copy of it, chrooted,
# as root: apt-get install ./palvex_*.deb, palvex-cli from PATH on a picture,
# apt-get remove, then no file of the package and no trace of it in the caches
# may be left, and every other file must be as it was before.
set -euo pipefail
deb=$(realpath "$1")
base=${2:-/var/tmp/palvex-debian12}
samples=$(realpath "$(dirname "$0")/../samples")

if [ ! -x "$base/usr/bin/apt-get" ]; then
  debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian >/dev/null
fi
work=$(mktemp -d /var/tmp/palvex-chroot.XXXXXX)
cleanup() {
  umount "$work/proc" 2>/dev/null || true
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
cp -a "$base/." "$work/"
mount -t proc proc "$work/proc"
cp /etc/resolv.conf "$work/etc/resolv.conf"
cp "$deb" "$work/tmp/"
cp "$samples/landscape.jpg" "$work/tmp/"
in_chroot() { chroot "$work" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 "$@"; }

# Everything but the package manager's own records, logs and scratch space.
snapshot() {
  (cd "$work" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp -o -path ./var/log -o -path ./var/cache \
      -o -path ./var/lib/apt -o -path ./var/lib/dpkg \) -prune -o -type f -print0 | sort -z | xargs -0 md5sum
    find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp \) -prune -o -type l -printf '%p -> %l\n' | sort) >"$1"
}

in_chroot apt-get update -qq
# The dependencies first, so that the snapshot before shows them already there.
depends=$(dpkg-deb --field "$deb" Depends | sed 's/([^)]*)//g; s/,/ /g; s/|[^ ]*//g')
if [ -n "${depends// /}" ]; then
  in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $depends >/dev/null
fi
# With a desktop entry, the programs whose caches it enters, so that their
# refresh on installation and on removal is seen.
desktop=$(dpkg-deb --contents "$deb" | awk '$6 ~ /applications\/.*\.desktop$/ {sub(/^\./, "", $6); print $6}')
if [ -n "$desktop" ]; then
  in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    desktop-file-utils shared-mime-info hicolor-icon-theme libgtk-3-bin >/dev/null
fi
snapshot "$work.before"

echo "== apt-get install ./$(basename "$deb")"
in_chroot sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./$(basename "$deb")" | tail -3
in_chroot dpkg -L palvex >"$work.files"
echo "== palvex-cli --version (from PATH: $(in_chroot sh -c 'command -v palvex-cli'))"
in_chroot palvex-cli --version | sed -n 1p
in_chroot palvex-cli /tmp/landscape.jpg --keep-aspect-ratio --width=320 --height=320 --quality=80
in_chroot sh -c 'ls /tmp/landscape_*' | sed 's/^/   wrote /'
status=0
if [ -n "$desktop" ]; then
  app=$(basename "$desktop")
  grep -q "=.*$app" "$work/usr/share/applications/mimeinfo.cache" || { echo "$app is not in the menu's MIME cache"; status=1; }
  grep -q ':\*\.jfif$' "$work/usr/share/mime/globs2" || { echo "the MIME globs were not merged"; status=1; }
  grep -q "${app%.desktop}" "$work/usr/share/icons/hicolor/icon-theme.cache" || { echo "the icon is not in the icon cache"; status=1; }
  [ "$status" -eq 0 ] && echo "   $app in the menu's MIME cache, the globs merged, the icon cached"
fi

echo "== apt-get remove palvex"
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq palvex | tail -2
snapshot "$work.after"

left=$(while read -r f; do [ -e "$work$f" ] && [ ! -d "$work$f" ] && echo "$f"; done <"$work.files" || true)
[ -z "$left" ] || { echo "left behind: $left"; status=1; }
ls "$work"/var/lib/dpkg/info/palvex.* 2>/dev/null && { echo "dpkg still holds palvex's scripts"; status=1; }
state=$(in_chroot dpkg-query -W -f='${db:Status-Abbrev}' palvex 2>/dev/null || true)
case "$state" in "" | un*) ;; *) echo "dpkg state after removal: $state"; status=1 ;; esac
if ! diff "$work.before" "$work.after"; then
  echo "files changed between before installation and after removal"
  status=1
fi
if grep -rlI -e 'palvex' -e 'korvane' "$work/usr/share" "$work/etc" 2>/dev/null; then
  echo "traces of the package above"
  status=1
fi
rm -f "$work.before" "$work.after" "$work.files"
[ "$status" -eq 0 ] && echo "== clean: nothing of the package is left"
exit "$status"
