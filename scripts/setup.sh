#!/usr/bin/env bash
# Installs, with apt-get, what building and testing needs on Debian 12.
# Does nothing when everything is already there. Run as root (or with sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libsystemd-dev
  clang libclang-rt-14-dev
  ccache lld scdoc
  qt6-base-dev fonts-dejavu-core
  iproute2 lintian
  libomniorb4-dev omniidl omniorb
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
fi
