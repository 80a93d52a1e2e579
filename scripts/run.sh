#!/usr/bin/env bash
# Runs the daemon in the foreground on a sample set-up kept in the checkout.
#
# Installs what building needs when it is missing (scripts/setup.sh), builds
# build/release when talvod or talvoctl is missing or older than the
# sources, lays out state/ (configuration file, settings store, an empty
# implementation repository; state/ is git-ignored and kept between runs),
# writes state/env.sh with the environment a second terminal needs, prints
# the talvoctl lines to try and the daemon's process id (also written to
# state/talvod.pid), then runs `talvod -f` (trace level 1, Priority 3).
# Ctrl-C ends it; SIGUSR1 stops it in order.
#
# TALVO_PORT changes the daemon port (default 7591).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/release"
state="$root/state"
port="${TALVO_PORT:-7591}"

"$root/scripts/setup.sh"

talvod="$build/src/daemon/talvod"
talvoctl="$build/tools/talvoctl/talvoctl"
needs_build=no
for program in "$talvod" "$talvoctl"; do
  if [ ! -x "$program" ] ||
    [ -n "$(find "$root/src" "$root/tools" "$root/CMakeLists.txt" "$root/cmake" \
      -newer "$program" -print -quit)" ]; then
    needs_build=yes
  fi
done
if [ "$needs_build" = yes ]; then
  echo "Building in $build ..."
  # shellcheck source=build-config.sh
  . "$root/scripts/build-config.sh"
  talvo_configure release
  cmake --build "$build" -j"$(nproc)" --target talvod talvoctl
fi

mkdir -p "$state/imprep" "$state/log"

# The configuration file: the daemon's port and the ports of the servers
# it launches, the error catalogue and the repository.
cat >"$state/Talvo.cfg" <<EOF
# Written by scripts/run.sh: the sample configuration of state/.
QV_DAEMON_PORT=$port
QV_DAEMON_SERVER_BASE=7600
QV_DAEMON_SERVER_RANGE=50
QV_ERRORS="$root/etc/Talvo.err"
QV_IMP_REP_PATH="$state/imprep"
EOF

# The settings store: the daemon's key (trace level 1, Priority 3: the
# daemon waits for the next event rather than pausing between passes).
cat >"$state/registry" <<EOF
# Written by scripts/run.sh: the sample settings store of state/.
[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]
Log=yes
LogFile=$state/log/talvod.log
TraceLevel=1
ReapTime=20
UPS=no
Protected=no
Interop=yes
InteropFile=$state/daemon.ior
Checkpoint=no
Priority=3

[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration]
EOF

# What a second terminal sources to reach this daemon.
cat >"$state/env.sh" <<EOF
# Source this file (. state/env.sh) to talk to the daemon of scripts/run.sh.
export QV_REGISTRY="$state/registry"
export QV_CONFIG_PATH="$state/Talvo.cfg"
export QV_ERRORS="$root/etc/Talvo.err"
export QV_IMP_REP_PATH="$state/imprep"
export QV_DAEMON_PORT=$port
export QV_DAEMON_SERVER_BASE=7600
export QV_DAEMON_SERVER_RANGE=50
export PATH="$build/tools/talvoctl:$build/src/daemon:\$PATH"
EOF

# shellcheck source=/dev/null
. "$state/env.sh"

cat <<EOF

The daemon (process id $$, also in state/talvod.pid) listens on port $port;
its repository is $state/imprep and its log $state/log/talvod.log.
In a second terminal:

    cd $root && . state/env.sh
    talvoctl status                                   # host, pid, port
    talvoctl config                                   # variables and sources
    talvoctl create-shared demo -m m1 -c "/bin/sleep 600"
    talvoctl list                                     # the records
    talvoctl show demo
    talvoctl bind demo m1        # the daemon launches it: its port
    talvoctl active              # the running servers
    talvoctl kill demo m1
    talvoctl delete demo
    talvoctl explain 10241       # the text of a minor code
    talvoctl --help              # every command

Ctrl-C here ends the daemon; "kill -USR1 $$" stops it in order (the
interoperable reference is then written to $state/daemon.ior).

EOF

# exec keeps the process id: the daemon is this process.
echo $$ >"$state/talvod.pid"

exec "$talvod" -f
