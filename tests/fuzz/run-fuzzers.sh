#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for SECONDS, one
# worker each, one after the other, from a fresh seed corpus and the regression inputs.
# A target fails on a crash, a sanitizer report, a check of its own (the loader target aborts
# when a load's heap grows past the per-picture memory budget), more than 2 s for one input, or
# a process past 2 GB; the input that did it is left in build-fuzz/findings/<target>/ to be
# added to tests/fuzz/regressions/<target>/ once its fault is mended. The process limit is far
# above the budget: the sanitizers' shadow memory, quarantine and caches come on top of the
# heap, so a process at the budget's 256 MB is no overrun.
#   tests/fuzz/run-fuzzers.sh SECONDS [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:?usage: run-fuzzers.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(loader jpegscan hive journal png webp tiff heif jxl)

scripts/deps.sh --fuzz

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVLIN_FUZZ=ON -DBUILD_TESTING=OFF -DTAVLIN_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

rm -rf "$build/seeds"
tests/fuzz/make-seeds.sh "$build/seeds" >/dev/null
# A small quarantine: ASan's default 256 MB of freed memory would count against the limit.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:quarantine_size_mb=16
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
status=0
for target in "${targets[@]}"; do
  case $target in
    loader) dict=loader.dict ;;
    jpegscan) dict=jpeg.dict ;;
    *) dict=$target.dict ;;
  esac
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  mkdir -p "$corpus" "$findings"
  echo "== $target: $seconds s"
  # The sanitizers make a decode about three times slower than a release build, where every
  # input must stay under 2 s: 6 s here is that bound.
  dict_option=()
  [ -f "tests/fuzz/dict/$dict" ] && dict_option=(-dict="tests/fuzz/dict/$dict")
  mkdir -p "tests/fuzz/regressions/$target"
  if ! "$build/tests/fuzz/fuzz_$target" "$corpus" "$build/seeds/$target" \
      "tests/fuzz/regressions/$target" "${dict_option[@]}" \
      -max_total_time="$seconds" -timeout=6 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" \
      >"$build/fuzz-$target.log" 2>&1; then
    echo "   FAILED: see $build/fuzz-$target.log and $findings/"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/fuzz-$target.log" |
    sed 's/^/   /' || true
done
exit $status
