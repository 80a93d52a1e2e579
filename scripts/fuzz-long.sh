#!/usr/bin/env bash
# The long fuzz run: every fuzz target for a given time (or until it has
# run a given number of inputs), a few at a time, each from its seeds and
# the corpus of earlier long runs. Prints the inputs each target ran;
# exits 1 when any target finds a fault (its reproducer is kept).
#
#   scripts/fuzz-long.sh SECONDS [JOBS]
#
# SECONDS is the time per target (default 600); JOBS the targets run at
# once (default: the number of processors). TALVO_FUZZ_RUNS (default
# 10000000) ends a target earlier once it has run that many inputs;
# TALVO_FUZZ_ONLY (target names, space-separated) runs only those, and
# TALVO_FUZZ_MAX_LEN caps the size of the inputs libFuzzer makes.
# Corpora grow in build/fuzz-long/corpus/TARGET and reproducers of
# findings go to build/fuzz-long/findings/TARGET; logs to
# build/fuzz-long/logs. Needs clang (scripts/setup.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=build-config.sh
. scripts/build-config.sh

seconds=${1:-600}
jobs=${2:-$(nproc)}
runs=${TALVO_FUZZ_RUNS:-10000000}
only=" ${TALVO_FUZZ_ONLY:-} "
max_len=${TALVO_FUZZ_MAX_LEN:-}
case "$seconds$jobs$runs$max_len" in
  *[!0-9]*) echo "usage: scripts/fuzz-long.sh SECONDS [JOBS]" >&2; exit 2 ;;
esac
root=$PWD
out=$root/build/fuzz-long

command -v clang++ >/dev/null || { echo "clang++ is missing" >&2; exit 2; }
talvo_configure fuzz
cmake --build build/fuzz -j "$jobs" --target talvo_fuzz_all
mkdir -p "$out/corpus" "$out/findings" "$out/logs"

# One target: its corpus seeded once from the project's seeds.
fuzz_one() {
  local target=$1 seeds=$2 corpus=$out/corpus/$1 findings=$out/findings/$1
  local log=$out/logs/$1.log status=0
  mkdir -p "$corpus" "$findings"
  if [ -n "$seeds" ] && [ -d "$seeds" ]; then cp -rn "$seeds"/. "$corpus"/; fi
  "$root/build/fuzz/fuzz/$target" -max_total_time="$seconds" -runs="$runs" \
    ${max_len:+-max_len="$max_len"} \
    -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" \
    >"$log" 2>&1 || status=$?
  local done_runs
  done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "FAIL $target after ${done_runs:-?} inputs (see $findings)"
  else
    echo "ok   $target ${done_runs:-?} inputs"
  fi
  return "$status"
}

echo "== fuzz targets, up to ${seconds}s or $runs inputs each, $jobs at a time"
failed=0
running=0
while read -r target seeds; do
  [ -n "$target" ] || continue
  [ "$only" = "  " ] || [[ "$only" == *" $target "* ]] || continue
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz_one "$target" "${seeds:-}" &
  running=$((running + 1))
done <build/fuzz/fuzz_targets.txt
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
[ "$failed" = 0 ] && echo "== no finding" || { echo "== findings"; exit 1; }
