#!/usr/bin/env bash
# Installs the Debian packages Tavlin needs, but only when one of them is
# missing, so a second run costs a dpkg query.
#   scripts/deps.sh          what building and running need (./run.sh)
#   scripts/deps.sh --test   that and the test tools on top (./test.sh)
#   scripts/deps.sh --fuzz   that and clang with the tools the fuzz seeds are made with
#                            (./test.sh --fuzz)
#   scripts/deps.sh --print [--test] [--fuzz]   lists the packages and installs nothing
set -euo pipefail

build_and_run=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev libxcb1-dev fonts-dejavu-core libcanberra-dev libjpeg-dev
  libxcb-screensaver0-dev libwayland-dev wayland-protocols qt6-base-private-dev
  libpng-dev libwebp-dev libtiff-dev libheif-dev libjxl-dev liblcms2-dev
)
tests=(
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool x11-apps imagemagick libjpeg-turbo-progs time python3
  libxfixes-dev
  bindfs fuse3 e2fsprogs
  cups printer-driver-cups-pdf poppler-utils
  dbus x11-xserver-utils
  weston sway wtype qt6-wayland
  libjxl-tools webp libtiff-tools libheif-examples
  desktop-file-utils appstream lintian dpkg-dev file
  build-essential debhelper git
)
fuzz=(
  clang libclang-rt-dev
  imagemagick libjpeg-turbo-progs python3 libjxl-tools webp libtiff-tools libheif-examples
)

print=no
with_tests=no
with_fuzz=no
for arg in "$@"; do
  case "$arg" in
    --print) print=yes ;;
    --test) with_tests=yes ;;
    --fuzz) with_fuzz=yes ;;
    *) echo "usage: $0 [--test] [--fuzz] [--print]" >&2; exit 2 ;;
  esac
done
packages=("${build_and_run[@]}")
[ "$with_tests" = yes ] && packages+=("${tests[@]}")
[ "$with_fuzz" = yes ] && packages+=("${fuzz[@]}")
if [ "$print" = yes ]; then printf '%s\n' "${packages[@]}"; exit 0; fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
