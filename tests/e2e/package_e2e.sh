#!/usr/bin/env bash
# The Debian package, built from debian/ in a fresh clone of the last commit as
# dpkg-buildpackage builds it anywhere (source and binary): lintian finds
# nothing at pedantic level beyond the overrides in debian/, the program
# carries the hardening flags, the fields name what the program needs, and (as
# root) it installs with dpkg -i, answers --version with the package's version
# and purges without a file left behind.
#
# The build leaves the tests out (nocheck): ./test.sh runs them already.
# TAVLIN_PACKAGE_CHECK=1 builds with them, as a distribution's build does.
# A ccache set up through CMAKE_CXX_COMPILER_LAUNCHER serves the package build
# too, so a second run compiles only what changed.
set -euo pipefail
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
src=${TAVLIN_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
for tool in dpkg-buildpackage dh lintian readelf git; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh --test installs it)"
done
head=$(git -C "$src" rev-parse --verify -q HEAD) || skip "the source is not a git checkout with a commit to build"

tmp=$(mktemp -d)
installed_here=no
cleanup() {
  if [ "$installed_here" = yes ]; then
    dpkg --purge tavlin >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# Everything debian/control builds with comes from scripts/deps.sh --test, so a
# fresh machine that ran it can build the package.
deps=$(bash "$src/scripts/deps.sh" --print --test)
while read -r need; do
  [ "$need" = debhelper-compat ] && need=debhelper
  grep -qx -- "$need" <<<"$deps" || fail "debian/control builds with $need, which scripts/deps.sh does not install"
done < <(sed -n '/^Build-Depends:/,/^[^ ]/{/^ /p}' "$src/debian/control" | awk '{sub(/,$/, "", $1); print $1}')

# A clone holds what is committed and nothing else: a file left out of git or
# an ignored build tree cannot make the package build here and fail elsewhere.
if [ -n "$(git -C "$src" status --porcelain --untracked-files=normal)" ]; then
  echo "note: the package is built from the last commit; uncommitted changes are not in it"
fi
version=$(git -C "$src" show "$head:debian/changelog" | dpkg-parsechangelog -l - -S Version)
arch=$(dpkg --print-architecture)
pkgsrc="$tmp/tavlin-$version"
git clone -q --no-checkout "$src" "$pkgsrc"
git -C "$pkgsrc" checkout -q --detach "$head"

options="nocheck"
profiles="nocheck"
if [ "${TAVLIN_PACKAGE_CHECK:-0}" = 1 ]; then
  options=""
  profiles=""
fi
# debhelper points HOME into the package tree, where ccache would start an
# empty cache on every build: name the real one, and base the paths on this
# folder so the clone's files hash alike from one run to the next.
if [[ "${CMAKE_CXX_COMPILER_LAUNCHER:-}" == *ccache* ]] && command -v ccache >/dev/null; then
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR CCACHE_BASEDIR="$tmp" CCACHE_NOHASHDIR=1
fi
(cd "$pkgsrc" && DEB_BUILD_OPTIONS="$options parallel=$(nproc)" DEB_BUILD_PROFILES="$profiles" \
  dpkg-buildpackage -us -uc) >"$tmp/build.log" 2>&1 \
  || fail "dpkg-buildpackage failed: $(tail -40 "$tmp/build.log")"
deb="$tmp/tavlin_${version}_${arch}.deb"
changes="$tmp/tavlin_${version}_${arch}.changes"
for f in "$deb" "$changes" "$tmp/tavlin_${version}.dsc" "$tmp/tavlin_${version}.tar.xz"; do
  [ -s "$f" ] || fail "no $(basename "$f") after the build"
done
! tar -tJf "$tmp/tavlin_${version}.tar.xz" | grep -q '/\.git/' || fail "the source package carries .git"

# Source and binary packages: a tag at pedantic level or above fails; the
# justified ones are overridden in debian/ and listed here.
rc=0
lintian -I -E --pedantic --show-overrides --tag-display-limit 0 "$changes" >"$tmp/lintian.log" 2>"$tmp/lintian.err" || rc=$?
[ "$rc" -le 1 ] || fail "lintian did not run: $(cat "$tmp/lintian.err" "$tmp/lintian.log")"
echo "lintian:"
sed 's/^/  /' "$tmp/lintian.log"
if grep -q '^[EWIPX]: ' "$tmp/lintian.log"; then
  fail "lintian: $(grep '^[EWIPX]: ' "$tmp/lintian.log")"
fi

field() { dpkg-deb -f "$deb" "$1"; }
while read -r name want; do
  grep -qw -- "$want" <<<"$(field "$name")" || fail "$name does not name $want: $(field "$name")"
done <<'EOF'
Depends libqt6widgets6
Depends libqt6gui6
Depends libqt6dbus6
Depends libpng16-16
Depends libwebp7
Depends libwebpdemux2
Depends libtiff6
Depends libheif1
Depends libjxl0.7
Depends liblcms2-2
Recommends xdg-utils
Recommends qt6-wayland
Suggests xscreensaver
EOF
# The X11 platform plug-in comes with libqt6gui6.
! grep -q qt6-qpa-plugins <<<"$(field Depends)" || fail "the package still depends on qt6-qpa-plugins"

# The hardening flags reached the program: PIE, full RELRO with immediate
# binding, the stack protector and FORTIFY_SOURCE's checked calls; and the
# program carries no run path.
dpkg-deb -x "$deb" "$tmp/unpacked"
program="$tmp/unpacked/usr/bin/tavlin"
dynamic=$(readelf -dW "$program")
grep -q 'FLAGS.*BIND_NOW' <<<"$dynamic" || fail "the program is not linked with -z now"
grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || fail "the program is not a PIE"
! grep -qE 'RPATH|RUNPATH' <<<"$dynamic" || fail "the program carries a run path: $(grep -E 'RPATH|RUNPATH' <<<"$dynamic")"
readelf -lW "$program" | grep -q GNU_RELRO || fail "the program has no read-only relocations"
symbols=$(readelf --dyn-syms -W "$program")
grep -q ' __stack_chk_fail' <<<"$symbols" || fail "the program is built without the stack protector"
grep -qE ' __[a-z0-9_]+_chk(@|$)' <<<"$symbols" || fail "the program calls no FORTIFY_SOURCE checked function"
head -n1 "$tmp/unpacked/usr/share/doc/tavlin/copyright" | grep -q '^Format: ' \
  || fail "the copyright file is not machine-readable"

[ "$(id -u)" -eq 0 ] || skip "the package builds and checks out; installing it needs root"
if dpkg-query -W -f='${Status}' tavlin 2>/dev/null | grep -q "install ok installed"; then
  skip "a tavlin package is already installed here; it is left alone"
fi
installed_here=yes
dpkg -i "$deb" >"$tmp/install.log" 2>&1 || fail "dpkg could not install the package: $(tail -5 "$tmp/install.log")"
answer=$(/usr/bin/tavlin --version) || fail "the installed program failed on --version"
[ "$answer" = "Tavlin $version" ] || fail "the installed program says \"$answer\", the package is $version"
dpkg -L tavlin | while read -r path; do [ -d "$path" ] || echo "$path"; done >"$tmp/files"
grep -qx /usr/bin/tavlin "$tmp/files" || fail "dpkg does not list /usr/bin/tavlin as the package's"
dpkg --purge tavlin >"$tmp/purge.log" 2>&1 || fail "the package did not purge: $(tail -5 "$tmp/purge.log")"
installed_here=no
status=$(dpkg-query -W -f='${Status}' tavlin 2>/dev/null || true)
case "$status" in "" | *" not-installed") ;; *) fail "dpkg lists tavlin as \"$status\" after the purge" ;; esac
while read -r path; do
  [ ! -e "$path" ] || fail "$path is left after the purge"
done <"$tmp/files"
for dir in /usr/share/tavlin /usr/share/doc/tavlin; do
  [ ! -e "$dir" ] || fail "$dir is left after the purge"
done
echo "package $version: ok"
