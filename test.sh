#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer into
# build/, and runs the whole ctest suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DK390_SANITIZE=ON
cmake --build build
cd build
ctest --output-on-failure -j2 --timeout 600
