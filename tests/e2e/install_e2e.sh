#!/usr/bin/env bash
# The installed tree: every file in place, the desktop entry, the metainfo and
# the xscreensaver page valid; the .deb built by CPack passes lintian without
# errors, installs with apt-get and the installed program answers --version.
binary=$1
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
build=$(cd "$(dirname "$binary")" && pwd)
tmp=$(mktemp -d)
installed_here=no
cleanup() {
  if [ "$installed_here" = yes ]; then
    apt-get remove -y -qq -o DPkg::Lock::Timeout=120 tavlin >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

cmake --build "$build" --target tavlin_manpage >/dev/null
DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
share="$tmp/root/usr/share"
for f in bin/tavlin \
         share/applications/io.github.tavlin.Tavlin.desktop \
         share/metainfo/io.github.tavlin.Tavlin.metainfo.xml \
         share/man/man1/tavlin.1.gz \
         share/tavlin/help/Tavlin.html share/tavlin/slide.wav \
         share/xscreensaver/config/tavlin.xml \
         share/doc/tavlin/copyright share/doc/tavlin/LICENSE \
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

# The package.
command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (dpkg-dev) is not installed"
(cd "$build" && cpack -G DEB -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1) || fail "cpack failed: $(cat "$tmp/cpack.log")"
deb=$(ls "$tmp"/pkg/tavlin_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libqt6dbus6 qt6-qpa-plugins; do
  grep -q "$need" <<<"$depends" || fail "the package does not depend on $need: $depends"
done
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1 || true
  if grep -q '^E:' "$tmp/lintian.log"; then fail "lintian: $(grep '^E:' "$tmp/lintian.log")"; fi
else
  echo "lintian is not installed: the package is not checked"
fi

[ "$(id -u)" -eq 0 ] || skip "installing the package needs root"
if dpkg-query -W -f='${Status}' tavlin 2>/dev/null | grep -q "install ok installed"; then
  skip "a tavlin package is already installed here; it is left alone"
fi
installed_here=yes
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "$deb" >"$tmp/apt.log" 2>&1 \
  || fail "apt-get could not install the package: $(tail -5 "$tmp/apt.log")"
[ "$(/usr/bin/tavlin --version)" = "Tavlin 2.0.109" ] || fail "the installed program did not answer --version"
apt-get remove -y -qq -o DPkg::Lock::Timeout=120 tavlin >/dev/null 2>&1 || fail "the package did not remove cleanly"
installed_here=no
[ ! -e /usr/bin/tavlin ] || fail "/usr/bin/tavlin is left after removal"
echo "install and package: ok"
