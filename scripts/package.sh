#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package dist/morvane_<version>_<arch>.deb from debian/
# with dpkg-buildpackage, and proves it reproducible: the files git tracks in
# this work tree are built twice, in two folders of build-package/, with
# SOURCE_DATE_EPOCH from the last commit, and every package of the two builds
# must be byte-identical. The installed binaries must carry no RUNPATH and no
# .comment section. lintian --pedantic checks the packages and the source
# package; any tag it lists that debian/ does not override fails the script.
# Installs what it needs first unless MORVANE_SKIP_INSTALL=1.
#   bash scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
if [ "${MORVANE_SKIP_INSTALL:-0}" != 1 ]; then
    # shellcheck disable=SC2086
    install_packages $RUN_PACKAGES $PACKAGE_PACKAGES
fi

SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
export SOURCE_DATE_EPOCH
DEB_BUILD_OPTIONS="parallel=$(nproc)"
export DEB_BUILD_OPTIONS
root="$PWD/build-package"
rm -rf "$root"
mkdir -p "$root" dist

# copy_sources <folder>: the files git tracks, as they are in this work tree
# (so what a build in the tree leaves, obj-*/ and debian/morvane/, stays out),
# into <folder>/morvane. The copies get the time of the copy, so every file is
# newer than SOURCE_DATE_EPOCH and its time in the package is clamped to it,
# whenever the work tree was checked out.
copy_sources() {
    mkdir -p "$1/morvane"
    git ls-files -z --cached |
        while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
        tar --null -T - -cf - | tar -xmf - -C "$1/morvane"
}

# build <folder>: builds the packages from <folder>/morvane; they land in <folder>.
build() {
    local dir="$1"
    echo "package: building in $dir"
    if ! (cd "$dir/morvane" && dpkg-buildpackage -us -uc -b) >"$dir/build.log" 2>&1; then
        tail -n 40 "$dir/build.log" >&2
        echo "package: dpkg-buildpackage failed, see $dir/build.log" >&2
        exit 1
    fi
}
first="$root/first"
# Another depth and name, so no path of the build folder can hide in the result.
second="$root/second/build-again"
copy_sources "$first"
copy_sources "$second"
# The source package, from the copy before anything is built in it.
(cd "$first" && dpkg-source -b morvane) >"$root/source.log" 2>&1 ||
    { cat "$root/source.log" >&2; exit 1; }
build "$first"
build "$second"

# Byte-identical, or where they differ: the file lists, then the files.
identical=1
for pkg in "$first"/*.deb; do
    other="$second/$(basename "$pkg")"
    [ -e "$other" ] || { echo "package: the second build made no $(basename "$pkg")" >&2; identical=0; continue; }
    if cmp -s "$pkg" "$other"; then echo "package: $(basename "$pkg") is the same in both builds"; continue; fi
    identical=0
    echo "package: $(basename "$pkg") differs between the builds" >&2
    diff <(dpkg-deb -c "$pkg") <(dpkg-deb -c "$other") >&2 || true
    rm -rf "$root/diff" && mkdir -p "$root/diff/a" "$root/diff/b"
    dpkg-deb -R "$pkg" "$root/diff/a" && dpkg-deb -R "$other" "$root/diff/b"
    diff -rq "$root/diff/a" "$root/diff/b" >&2 || true
done
[ "$identical" = 1 ] || { echo "package: the two builds differ" >&2; exit 1; }

deb="$(find "$first" -maxdepth 1 -name 'morvane_*.deb' | head -n 1)"
[ -n "$deb" ] || { echo "package: dpkg-buildpackage wrote no morvane .deb" >&2; exit 1; }

# The binaries dh_strip left: no RUNPATH, no .comment.
tree="$root/contents"
rm -rf "$tree" && dpkg-deb -x "$deb" "$tree"
binaries_clean=1
for binary in "$tree"/usr/lib/morvane/*; do
    if readelf -d "$binary" | grep -Eq '\((RUNPATH|RPATH)\)'; then
        echo "package: ${binary#"$tree"} has a RUNPATH" >&2; binaries_clean=0; fi
    if readelf -S "$binary" | grep -q '\.comment'; then
        echo "package: ${binary#"$tree"} has a .comment section" >&2; binaries_clean=0; fi
done
[ "$binaries_clean" = 1 ] || exit 1
echo "package: no RUNPATH and no .comment in the binaries"

cp -f "$deb" dist/
echo "package: wrote dist/$(basename "$deb")"

# The binary build's .changes covers the .deb files and the .buildinfo; the
# .dsc is the source package.
lintian --pedantic --info --fail-on error,warning,info,pedantic \
    "$first"/morvane_*.changes "$first"/morvane_*.dsc
echo "package: lintian --pedantic lists no tag that debian/ does not override"
