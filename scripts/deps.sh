#!/usr/bin/env bash
# Installs the Debian packages Tavlin needs to build, run and test, but only
# when one of them is missing, so a second run costs a dpkg query.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev fonts-dejavu-core libcanberra-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool x11-apps imagemagick libjpeg-turbo-progs time
  libxfixes-dev
  bindfs fuse3
  cups printer-driver-cups-pdf poppler-utils
)
if [ "${1:-}" = "--print" ]; then printf '%s\n' "${packages[@]}"; exit 0; fi

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
