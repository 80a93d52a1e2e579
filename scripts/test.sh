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
# TALVO_FUZZ_SECONDS sets the time per fuzz target (default 10); two
# targets run at a time.
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

root=$PWD
jobs=$(nproc)
fuzz_seconds=${TALVO_FUZZ_SECONDS:-10}
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

# One fuzz target for fuzz_seconds from a copy of its seeds, in a folder of
# its own; its log is shown only when it fails.
fuzz_one() {
  local target=$1 seeds=$2 work status=0
  work=$(mktemp -d)
  mkdir "$work/corpus"
  if [ -n "$seeds" ] && [ -d "$seeds" ]; then cp -r "$seeds"/. "$work/corpus"/; fi
  (cd "$work" && "$root/build/fuzz/fuzz/$target" \
    -max_total_time="$fuzz_seconds" corpus >log 2>&1) || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    echo "fuzz target $target failed"
  else
    echo "-- $target: $(grep -E '^Done|runs in' "$work/log" | tail -n 1)"
  fi
  rm -rf "$work"
  return "$status"
}

if command -v clang++ >/dev/null; then
  echo "== fuzz targets, ${fuzz_seconds}s each, two at a time"
  talvo_configure fuzz
  cmake --build build/fuzz -j "$jobs" --target talvo_fuzz_all
  failed=0
  running=0
  while read -r target seeds; do
    [ -n "$target" ] || continue
    if [ "$running" -ge 2 ]; then
      wait -n || failed=1
      running=$((running - 1))
    fi
    fuzz_one "$target" "${seeds:-}" &
    running=$((running + 1))
  done < build/fuzz/fuzz_targets.txt
  while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
  done
  [ "$failed" = 0 ] || exit 1
fi
echo "== all tests passed in $((SECONDS - started)) s"
