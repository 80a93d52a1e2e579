#!/usr/bin/env bash
# The daemon's IIOP side against omniORB, measured side by side in one run:
#   1. serverExists from an omniORB client: served by talvod, and by an
#      omniORB server of the same operation (talvo_omni_exists_server):
#      median latency with one client, throughput with 8 client threads;
#   2. Greeter::greet of the sample server from an omniORB client: through
#      the daemon's reference on every call (the daemon forwards the client
#      to the running server), and on a reference already forwarded (the
#      server alone).
# Prints a table with the ratios. Needs a build with the benchmarks and
# omniORB (talvo_omni_bench, talvo_omni_exists_server, talvod, talvoctl,
# talvo_sample_server):
#
#   bench/interop/iiop_bench.sh [BUILD_DIR]       (default build/release)
#
# CALLS (default 5000) sets the calls per measurement and client thread;
# TALVO_BENCH_PORTS (default 27600) the first of 20 ports for the sample
# server.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
calls="${CALLS:-5000}"
ports="${TALVO_BENCH_PORTS:-27600}"
bench="$build/bench/interop/talvo_omni_bench"
omni_server="$build/bench/interop/talvo_omni_exists_server"
talvod="$build/src/daemon/talvod"
talvoctl="$build/tools/talvoctl/talvoctl"
sample="$build/examples/talvo_sample_server"
for program in "$bench" "$omni_server" "$talvod" "$talvoctl" "$sample"; do
  [ -x "$program" ] || { echo "missing $program (build it first)" >&2; exit 1; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
  # The sample server the daemon launched ends with it.
  if [ -n "${QV_DAEMON_PORT:-}" ]; then
    "$talvoctl" kill greeter >/dev/null 2>&1 || true
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The daemon: quiet, never pausing between passes, on a port it picks.
mkdir -p "$work/imprep"
cat >"$work/registry" <<REG
[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]
Log=no
TraceLevel=0
Priority=3
Checkpoint=no
Interop=no
REG
export QV_REGISTRY="$work/registry" QV_IMP_REP_PATH="$work/imprep"
export QV_LOCATOR_PATH="$work" QV_SERVICE_DIR="$work"
export QV_ERRORS="$root/etc/Talvo.err" QV_CONFIG_PATH="$work/none.cfg"
export QV_DAEMON_SERVER_BASE="$ports" QV_DAEMON_SERVER_RANGE=20
# On two or more processors each server gets one of its own and the
# clients another, as the other benches do: both ORBs are measured on one
# core each, whatever their threading.
server_cpu=() client_cpu=()
if [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null; then
  server_cpu=(taskset -c 1) client_cpu=(taskset -c 0)
fi
# Both ORBs speak GIOP 1.0 here, as the daemon does.
export ORBmaxGIOPVersion=1.0 ORBmaxGIOPConnectionPerServer=8
QV_DAEMON_PORT=0 "${server_cpu[@]}" "$talvod" -f >"$work/talvod.out" 2>&1 &
pids+=($!)
daemon_pid=$!
port=""
for _ in $(seq 100); do
  port="$(ss -ltnpH 2>/dev/null | grep "pid=$daemon_pid," |
    awk '{print $4}' | sed 's/.*://' | head -1)"
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "talvod did not listen" >&2; cat "$work/talvod.out" >&2; exit 1; }
export QV_DAEMON_PORT="$port"

"$talvoctl" create-shared greeter --marker '*' \
  --command "$sample --marker hello" >/dev/null
# An omniORB client sends no principal: it calls as "nobody".
"$talvoctl" grant launch nobody greeter >/dev/null
"$talvoctl" grant invoke nobody greeter >/dev/null
daemon_ior="$("$talvoctl" ior --port "$port")"
greeter_ior="$("$talvoctl" ior --port "$port" --server greeter \
  --marker hello --interface Greeter)"

"${server_cpu[@]}" "$omni_server" >"$work/omni.ior" 2>"$work/omni.err" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/omni.ior" ] && break
  sleep 0.1
done
omni_ior="$(head -1 "$work/omni.ior")"

# "median_us=M p90_us=P calls_per_s=R" -> the named field.
field() { sed -n "s/.*$1=\([0-9.n/a]*\).*/\1/p"; }
measure() { "${client_cpu[@]}" "$bench" "$@" || { echo "failed: $*" >&2; exit 1; }; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else printf "n/a" }'; }

# Warm both (connections, the launch of the sample server).
measure "$daemon_ior" exists 200 1 >/dev/null
measure "$omni_ior" exists 200 1 >/dev/null
# The forwarding needs the daemon's redirection; without it, n/a.
forwards=yes
"$bench" "$greeter_ior" greet 20 1 >/dev/null 2>&1 || forwards=no

d1="$(measure "$daemon_ior" exists "$calls" 1)"
o1="$(measure "$omni_ior" exists "$calls" 1)"
d8="$(measure "$daemon_ior" exists "$calls" 8)"
o8="$(measure "$omni_ior" exists "$calls" 8)"
fw="median_us=n/a" dr="median_us=n/a"
if [ "$forwards" = yes ]; then
  fw="$(measure "$greeter_ior" greet "$((calls / 5))" 1 --fresh)"
  dr="$(measure "$greeter_ior" greet "$calls" 1)"
fi

d1m="$(field median_us <<<"$d1")"; o1m="$(field median_us <<<"$o1")"
d8r="$(field calls_per_s <<<"$d8")"; o8r="$(field calls_per_s <<<"$o8")"
fwm="$(field median_us <<<"$fw")"; drm="$(field median_us <<<"$dr")"

printf '%-44s %12s %12s %7s %s\n' "measure" "talvod" "omniORB" "ratio" "target"
printf '%-44s %12s %12s %7s %s\n' "serverExists median, 1 client (us)" \
  "$d1m" "$o1m" "$(ratio "$d1m" "$o1m")" "<= 1.20"
printf '%-44s %12s %12s %7s %s\n' "serverExists calls/s, 8 client threads" \
  "$d8r" "$o8r" "$(ratio "$d8r" "$o8r")" ">= 1.00"
printf '%-44s %12s %12s %7s %s\n' "greet median: forwarded vs direct (us)" \
  "$fwm" "$drm" "$(ratio "$fwm" "$drm")" "(two round trips vs one)"
