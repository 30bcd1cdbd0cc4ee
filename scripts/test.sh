#!/usr/bin/env bash
# Installs what the tests need on Debian 12, builds, and runs every test.
#   scripts/test.sh             normal build in build-tests/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --tsan      ThreadSanitizer, in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
dir=build-tests
flags=()
case "${1:-}" in
    --sanitize) dir=build-asan; flags=(-DMORVANE_SANITIZE=ON) ;;
    --tsan) dir=build-tsan; flags=(-DMORVANE_TSAN=ON) ;;
    "") ;;
    *) echo "usage: $0 [--sanitize|--tsan]" >&2; exit 2 ;;
esac
if [ "${MORVANE_SKIP_INSTALL:-0}" != 1 ]; then
    # shellcheck disable=SC2086
    install_packages $RUN_PACKAGES $TEST_PACKAGES
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600
