#!/usr/bin/env bash
# Installs what building and running need when something is missing, builds
# Tavlin and starts it. With no argument it opens the bundled sample pictures;
# otherwise the arguments are Tavlin's command line (a folder, a picture, or
# /s, /c, /p; see --help).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/scripts/options.sh"
"$here/scripts/deps.sh"
cmake -S "$here" -B "$here/build" "${tavlin_cmake_options[@]}" >/dev/null
cmake --build "$here/build" -j"$(nproc)" --target tavlin
if [ $# -eq 0 ]; then
  exec "$here/build/tavlin" "$here/samples"
fi
exec "$here/build/tavlin" "$@"
