#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs the whole
# suite twice (a normal build, then AddressSanitizer with
# UndefinedBehaviorSanitizer), then every fuzz target for a bounded time.
# Build trees go to build/; nothing is left outside it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${TALVO_FUZZ_SECONDS:-20}

echo "== normal build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 300

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTALVO_SANITIZE=ON \
  -DTALVO_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

if command -v clang++ >/dev/null; then
  echo "== fuzz targets, ${fuzz_seconds}s each"
  cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DTALVO_FUZZ=ON -DTALVO_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j "$jobs" --target talvo_fuzz_all
  while read -r target seeds; do
    [ -n "$target" ] || continue
    work=$(mktemp -d)
    mkdir "$work/corpus"
    if [ -n "${seeds:-}" ] && [ -d "$seeds" ]; then cp -r "$seeds"/. "$work/corpus"/; fi
    echo "-- $target"
    if ! (cd "$work" && "$OLDPWD/build/fuzz/fuzz/$target" \
        -max_total_time="$fuzz_seconds" corpus >log 2>&1); then
      tail -n 60 "$work/log"
      rm -rf "$work"
      echo "fuzz target $target failed"
      exit 1
    fi
    grep -E '^Done|runs in' "$work/log" | tail -n 1 || true
    rm -rf "$work"
  done < build/fuzz/fuzz_targets.txt
fi
echo "== all tests passed"
