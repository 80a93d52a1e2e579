#!/usr/bin/env bash
# Prints the comparison table of talvod, a TCP echo and an omniORB server
# (getImplementationDetails of a running server), with talvod's launch,
# memory and idle figures: the median of RUNS runs of
# `daemon_bench --table` (default 3; the machine is shared and noisy).
#
#   scripts/bench-table.sh [RUNS] [REQUESTS]
#
# REQUESTS (default a million) is how many requests the memory figure is
# taken over. Builds build/bench (optimised, with debug information) first.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${1:-3}"
requests="${2:-1000000}"
build="$root/build/bench"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target daemon_bench >/dev/null

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
for ((i = 1; i <= runs; i++)); do
  echo "run $i of $runs..." >&2
  "$build/bench/daemon/daemon_bench" --table --million "$requests" |
    grep '^table ' >>"$out"
done

# The median of the values of one key (field `col` of the lines that start
# with `key`).
median() {
  grep "^table $1 " "$out" | awk -v c="$2" '{print $c}' | sort -g |
    awk '{v[NR]=$1} END {if (NR) print v[int((NR+1)/2)]; else print "-"}'
}

echo "Machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo |
  cut -d: -f2 | sed 's/^ *//'), Linux $(uname -r); median of $runs runs."
echo
echo "| | 1 client p50 (µs) | 8 clients throughput (/s) | 8 clients p99 (µs) |"
echo "|---|---|---|---|"
for who in talvod echo omniORB; do
  grep -q "^table row $who " "$out" || continue
  echo "| $who | $(median "row $who" 4) | $(median "row $who" 5) |" \
    "$(median "row $who" 6) |"
done
echo
echo "| ratio | median |"
echo "|---|---|"
for r in p50/echo throughput/echo throughput/omniORB p99/omniORB launch/spawn; do
  grep -q "^table ratio $r " "$out" || continue
  echo "| $r | $(median "ratio $r" 4) |"
done
echo
echo "talvod resident memory: idle $(median rss-idle-kib 3) KiB;" \
  "$(grep '^table rss-after ' "$out" | awk '{print $3}' | sort -un |
    while read -r n; do
      printf '%s after %s requests; ' \
        "$(grep "^table rss-after $n " "$out" | awk '{print $4}' | sort -g |
          awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')" "$n"
    done)"
echo "talvod idle 10 s: $(median idle-10s 4) wake-ups," \
  "$(median idle-10s 6) CPU ticks."
