#!/usr/bin/env bash
# Installs what is missing (the test tools too), builds Tavlin with warnings as errors and runs every
# test: unit and widget tests offscreen, end-to-end tests on Xvfb.
# With --sanitize the tests are built and run under AddressSanitizer and
# UndefinedBehaviorSanitizer instead, in build-sanitize/.
set -euo pipefail
cd "$(dirname "$0")"
# --fuzz SECONDS: builds the fuzz targets with clang in build-fuzz/ and runs each for SECONDS.
if [ "${1:-}" = "--fuzz" ]; then
  exec tests/fuzz/run-fuzzers.sh "${2:?usage: ./test.sh --fuzz SECONDS}"
fi
scripts/deps.sh --test
source scripts/options.sh
build=${TAVLIN_BUILD_DIR:-build}
options=("${tavlin_cmake_options[@]}")
if [ "${1:-}" = "--sanitize" ]; then
  shift
  build=build-sanitize
  options=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVLIN_WERROR=ON -DTAVLIN_SANITIZE=ON -DTAVLIN_BENCH=OFF)
  # Qt keeps some allocations for the life of the process; leaks are not what this run looks for.
  export ASAN_OPTIONS=detect_leaks=0
fi
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
