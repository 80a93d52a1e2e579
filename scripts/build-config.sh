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
    release)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    asan)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
        -DTALVO_SANITIZE=ON -DTALVO_BENCH=OFF ;;
    fuzz)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DTALVO_FUZZ=ON -DTALVO_BENCH=OFF ;;
    package)
      cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_INSTALL_PREFIX=/usr -DTALVO_BENCH=OFF ;;
    *)
      echo "talvo_configure: unknown build '$1'" >&2
      return 2 ;;
  esac >/dev/null
}
