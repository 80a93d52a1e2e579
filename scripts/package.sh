#!/usr/bin/env bash
# Builds the Debian package: configures build/package for the prefix /usr,
# builds it, and writes build/package/package/talvo_<version>_<arch>.deb.
# Then checks it with lintian when lintian is installed (it is not part of
# scripts/setup.sh: it pulls in over a hundred packages).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=build-config.sh
. scripts/build-config.sh

scripts/setup.sh
talvo_configure package
cmake --build build/package -j "$(nproc)" --target talvod talvoctl \
  talvo_sample_server talvo_sample_client talvo_docs
cpack --config build/package/CPackConfig.cmake -B build/package/package >/dev/null
deb=$(ls build/package/package/*.deb)
echo "$deb"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb"
else
  echo "(lintian is not installed: the package was not checked)"
fi
