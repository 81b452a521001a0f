#!/usr/bin/env bash
# The installed tree: every file in place, the desktop entry, the metainfo and
# the xscreensaver page valid, the man page naming every switch. The Debian
# package is package_e2e.sh's.
binary=$1
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
build=$(cd "$(dirname "$binary")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --build "$build" --target tavlin_manpage >/dev/null
DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
share="$tmp/root/usr/share"
for f in bin/tavlin \
         share/applications/io.github.tavlin.Tavlin.desktop \
         share/metainfo/io.github.tavlin.Tavlin.metainfo.xml \
         share/man/man1/tavlin.1.gz \
         share/tavlin/help/Tavlin.html share/tavlin/slide.wav \
         share/xscreensaver/config/tavlin.xml \
         share/doc/tavlin/LICENSE share/doc/tavlin/README.md \
         share/icons/hicolor/scalable/apps/tavlin.svg; do
  [ -s "$tmp/root/usr/$f" ] || fail "not installed: /usr/$f"
done
# The program links no shared library of its own: no run path once installed.
if command -v readelf >/dev/null && readelf -dW "$tmp/root/usr/bin/tavlin" | grep -E 'RPATH|RUNPATH'; then
  fail "the installed program carries a run path"
fi
for size in 16 22 24 32 48 64 128 256; do
  icon="$share/icons/hicolor/${size}x${size}/apps/tavlin.png"
  [ -s "$icon" ] || fail "no ${size} px icon"
  got=$(identify -format '%wx%h' "$icon") || fail "the ${size} px icon does not read"
  [ "$got" = "${size}x${size}" ] || fail "the ${size} px icon is $got"
done
grep -q '^MimeType=.*image/jpeg;.*image/bmp;.*image/gif;' "$share/applications/io.github.tavlin.Tavlin.desktop" \
  || fail "the desktop entry does not claim JPEG, BMP and GIF"
command -v desktop-file-validate >/dev/null || skip "desktop-file-validate (desktop-file-utils) is not installed"
desktop-file-validate "$share/applications/io.github.tavlin.Tavlin.desktop" || fail "the desktop entry does not validate"
command -v appstreamcli >/dev/null || skip "appstreamcli (appstream) is not installed"
appstreamcli validate --no-net "$share/metainfo/io.github.tavlin.Tavlin.metainfo.xml" >"$tmp/as.log" 2>&1 \
  || fail "the metainfo does not validate: $(cat "$tmp/as.log")"
python3 -c 'import sys, xml.dom.minidom as m; d = m.parse(sys.argv[1]).documentElement; assert d.tagName == "screensaver" and d.getAttribute("name") == "tavlin"' \
  "$share/xscreensaver/config/tavlin.xml" || fail "the xscreensaver page is not well-formed"
# The man page names every switch.
page=$(zcat "$share/man/man1/tavlin.1.gz")
for switch in '/s' '/c' '/p' 'root' 'window\\-id' 'folder' 'seconds' 'help' 'version' 'F9' 'HKEY_CURRENT_USER.reg'; do
  grep -q -- "$switch" <<<"$page" || fail "the man page does not mention $switch"
done

echo "installed tree: ok"
