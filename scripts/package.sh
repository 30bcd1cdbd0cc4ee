#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package dist/morvane_<version>_<arch>.deb with CPack, in
# build-package/, with Debian's compiler and linker flags (hardening), and
# checks it with lintian: errors fail the script, warnings are shown.
# Installs what it needs first unless MORVANE_SKIP_INSTALL=1.
#   bash scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
if [ "${MORVANE_SKIP_INSTALL:-0}" != 1 ]; then
    # shellcheck disable=SC2086
    install_packages $RUN_PACKAGES $PACKAGE_PACKAGES
fi

dir=build-package
# Every hardening feature Debian offers, bind-now included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS="$(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
# A fresh configuration each time, so the flags above always apply.
rm -rf "$dir/CMakeCache.txt" "$dir/_CPack_Packages"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMORVANE_BUILD_BENCH=OFF
cmake --build "$dir" -j"$(nproc)"
(cd "$dir" && cpack)

mkdir -p dist
deb="$(find "$dir" -maxdepth 1 -name 'morvane_*.deb' -newer "$dir/CMakeCache.txt" | head -n 1)"
[ -n "$deb" ] || { echo "package: cpack wrote no .deb" >&2; exit 1; }
mv -f "$deb" dist/
deb="dist/$(basename "$deb")"
echo "package: wrote $deb"

# lintian exits non-zero on errors; warnings are listed but do not fail.
lintian --fail-on error --info "$deb"
echo "package: lintian found no errors in $deb"
