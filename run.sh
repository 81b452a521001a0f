#!/usr/bin/env bash
# Installs what is missing, builds Tavlin and starts it. With no argument it
# opens the bundled sample pictures; otherwise the arguments are Tavlin's
# command line (a folder, a picture, or /s, /c, /p).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$(nproc)" --target tavlin
if [ $# -eq 0 ]; then
  exec "$here/build/tavlin" "$here/samples"
fi
exec "$here/build/tavlin" "$@"
