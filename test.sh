#!/usr/bin/env bash
# Installs what is missing, builds Tavlin with warnings as errors and runs every
# test: unit and widget tests offscreen, end-to-end tests on Xvfb.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
build=${TAVLIN_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVLIN_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
