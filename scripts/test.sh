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
    --sanitize)
        dir=build-asan; flags=(-DMORVANE_SANITIZE=ON)
        # See tests/lsan.supp for why thread-local storage is not scanned.
        export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_stack_use_after_return=0}"
        export LSAN_OPTIONS="${LSAN_OPTIONS:-use_tls=0:print_suppressions=0:suppressions=$PWD/tests/lsan.supp}"
        export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
        ;;
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
