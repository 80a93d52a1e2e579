#!/usr/bin/env bash
# Runs limits_probe against a talvod of its own (trace off, Priority 3) in
# a temporary folder, then stops it and removes the folder.
#
#   bench/limits/run_limits_probe.sh [BUILD_DIR] [REQUESTS]
set -euo pipefail
build=${1:-build/release}
requests=${2:-5000}
dir=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/imprep"
cat >"$dir/registry" <<REG
[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]
TraceLevel=0
Priority=3
REG
QV_REGISTRY=$dir/registry QV_IMP_REP_PATH=$dir/imprep QV_LOCATOR_PATH=$dir \
QV_USE_CONFIG_FILE=no QV_DAEMON_PORT=0 QV_SERVICE_DIR=$dir \
  "$build/src/daemon/talvod" -f >"$dir/out" 2>&1 &
pid=$!
port=
for _ in $(seq 100); do
  port=$(ss -Hltnp 2>/dev/null | grep "pid=$pid," | awk '{print $4}' | sed 's/.*://' | head -n 1 || true)
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "talvod did not listen"; cat "$dir/out"; exit 1; }
echo "talvod pid $pid port $port ($(nproc) cores, $(uname -r))"
"$build/bench/limits/limits_probe" "$port" "$pid" "$requests"
