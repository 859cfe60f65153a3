#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests, the fuzzers and the window need,
# skipping those already installed. Uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev libqcustomplot-dev libqcustomplot2.1-qt6
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libboost-math-dev nlohmann-json3-dev libfftw3-dev
  clang libclang-rt-14-dev llvm-14
  xvfb xauth imagemagick x11-utils fonts-dejavu-core
  dbus at-spi2-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
