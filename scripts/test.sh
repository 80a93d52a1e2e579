#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs the whole
# suite twice (a normal build, then AddressSanitizer with
# UndefinedBehaviorSanitizer), then every fuzz target for a bounded time.
# Build trees go to build/ (one folder per configuration, see
# scripts/build-config.sh); nothing is left outside it but ccache's cache.
#
#   scripts/test.sh                   everything, as CI runs it
#   scripts/test.sh --quick [REGEX]   the edit-compile-test loop: build
#                                     build/release and run the tests whose
#                                     names match REGEX (default: all); no
#                                     sanitizer pass, no fuzzing
#
# TALVO_FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=build-config.sh
. scripts/build-config.sh

quick=no
regex=
if [ "${1:-}" = --quick ]; then
  quick=yes
  regex=${2:-}
elif [ $# -gt 0 ]; then
  echo "usage: scripts/test.sh [--quick [REGEX]]" >&2
  exit 2
fi

scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${TALVO_FUZZ_SECONDS:-20}
started=$SECONDS

if [ "$quick" = yes ]; then
  talvo_configure release
  cmake --build build/release -j "$jobs"
  ctest --test-dir build/release --output-on-failure -j "$jobs" \
    --timeout 300 ${regex:+-R "$regex"}
  echo "== quick tests passed in $((SECONDS - started)) s"
  exit 0
fi

echo "== normal build"
talvo_configure release
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 300

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
talvo_configure asan
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

if command -v clang++ >/dev/null; then
  echo "== fuzz targets, ${fuzz_seconds}s each"
  talvo_configure fuzz
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
echo "== all tests passed in $((SECONDS - started)) s"
