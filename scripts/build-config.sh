# shellcheck shell=bash
# Sourced by the scripts: the one configure line of each build folder, so
# that run.sh and test.sh share build/release instead of reconfiguring it
# for another build type (which rebuilds everything).
#
#   talvo_configure release|asan|fuzz|package
#
# Configuring an already configured folder with the same line rewrites
# nothing, so nothing is rebuilt. ccache is used when installed (the
# project's CMakeLists.txt picks it up).
talvo_configure() {
  local root build
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  build="$root/build/$1"
  case "$1" in
    # Build speed: the normal build is optimised without debug information
    # (that halves the time to compile a test); the sanitizer build stays
    # unoptimised (at -O1 it compiles twice as slowly, and the tests wait on
    # I/O) with line tables only; the fuzz build is instrumented at -O1.
    # The three are compiled in batches (TALVO_UNITY), which halves a cold
    # build; an editor's own build folder may leave that off.
    release)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DTALVO_UNITY=ON ;;
    asan)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG="-g1" -DTALVO_SANITIZE=ON -DTALVO_BENCH=OFF \
        -DTALVO_UNITY=ON ;;
    fuzz)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
        -DCMAKE_CXX_COMPILER=clang++ -DTALVO_FUZZ=ON -DTALVO_BENCH=OFF \
        -DTALVO_UNITY=ON ;;
    package)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_INSTALL_PREFIX=/usr -DTALVO_BENCH=OFF ;;
    *)
      echo "talvo_configure: unknown build '$1'" >&2
      return 2 ;;
  esac >/dev/null
}
