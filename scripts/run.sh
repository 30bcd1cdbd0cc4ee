#!/usr/bin/env bash
# Installs what Morvane needs on Debian 12, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_packages $RUN_PACKAGES
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DMORVANE_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)"
exec ./build/bin/morvane
