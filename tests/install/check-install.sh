#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build with "cmake --install" into a temporary DESTDIR, under a
# prefix other than /usr, and checks the tree as a distribution and a desktop
# use it. Finally it removes every file install_manifest.txt lists: nothing
# may be left, so an uninstall by the manifest is complete.
#   check-install.sh <build dir> <desktop id> <version>
set -euo pipefail
build="$1" id="$2" version="$3"
readonly prefix=/opt/morvane-check
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root" tree="$work/root$prefix"
failures=0
check() { # check <what> <command...>: runs the command, reports it by <what>
    local what="$1"; shift
    if "$@" >"$work/out" 2>&1; then echo "ok: $what"; else
        echo "FAIL: $what" >&2; cat "$work/out" >&2; failures=$((failures + 1)); fi
}

DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >"$work/install.log"
cp "$build/install_manifest.txt" "$work/manifest" # paths without DESTDIR

link_is_relative() { [[ "$(readlink "$tree/bin/morvane")" != /* ]]; }
link_reaches_program() { [ "$(realpath -e "$tree/bin/morvane")" = "$(realpath "$tree/lib/morvane/morvane")" ]; }
check "bin/morvane is a relative link" link_is_relative
check "bin/morvane leads to lib/morvane/morvane" link_reaches_program
check "bin/morvane is in install_manifest.txt" grep -qxF "$prefix/bin/morvane" "$work/manifest"
check "the encoder tool and its converter lie beside the program" \
    test -x "$tree/lib/morvane/ffmpeg" -a -x "$tree/lib/morvane/morvane-converter"
help_in_share() {
    [ -f "$tree/share/morvane/help/index.html" ] && [ ! -e "$tree/lib/morvane/help" ] &&
        [ ! -e "$tree/lib/morvane/help.chm" ] &&
        { [ ! -e "$build/bin/help.chm" ] || [ -f "$tree/share/morvane/help.chm" ]; }
}
check "the help lies in share/morvane, none in lib/morvane" help_in_share
no_runpath() {
    local binary
    for binary in "$tree"/lib/morvane/*; do
        ! readelf -d "$binary" | grep -E '\((RUNPATH|RPATH)\)' || { echo "in $binary"; return 1; }
    done
}
check "the installed binaries carry no RUNPATH" no_runpath

entry="$tree/share/applications/$id.desktop"
check "desktop-file-validate accepts $id.desktop" desktop-file-validate "$entry"
entry_fields() { grep -qx 'Exec=morvane %F' "$entry" && grep -qx "Icon=$id" "$entry"; }
check "the entry runs \"morvane %F\" and names the icon $id" entry_fields

# Each PNG has the size its folder names; 16 to 256 pixels and scalable exist.
icons_fit_folders() {
    local png folder
    for png in "$tree"/share/icons/hicolor/*/apps/"$id".png; do
        folder="$(basename "$(dirname "$(dirname "$png")")")"
        [ "$(identify -format '%wx%h' "$png")" = "$folder" ] || { echo "$png is not $folder"; return 1; }
    done
    ls "$tree"/share/icons/hicolor/{16x16,256x256,scalable}/apps/"$id".*
}
check "the icons fit their theme folders" icons_fit_folders

check "appstreamcli validate accepts the metainfo" \
    appstreamcli validate --no-net "$tree/share/metainfo/$id.metainfo.xml"
# The whole tree: the metainfo's launchable is the installed desktop entry.
check "appstreamcli validate-tree accepts the tree" appstreamcli validate-tree --no-net "$tree"

manual_states_command_line() {
    local page="$tree/share/man/man1/morvane.1.gz"
    [ -z "$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)" ] &&
        man -l "$page" | grep -q 'morvane \[FILE\.\.\.\]'
}
check "the manual page states the command line" manual_states_command_line

# Through the installed link, with no display of any kind.
run_installed() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tree/bin/morvane" "$@"; }
version_answers() { [ "$(run_installed --version)" = "morvane $version" ]; }
help_answers() {
    run_installed --help >"$work/help"
    grep -q '^Usage: .*morvane \[options\] \[FILE\.\.\.\]$' "$work/help" && grep -q 'folder' "$work/help"
}
# option_error_answers <text> <arguments...>: an option error gives status 1,
# as the manual says, and a message with <text> on standard error only.
option_error_answers() {
    local text="$1" status=0
    shift
    run_installed "$@" >"$work/stdout" 2>"$work/stderr" || status=$?
    echo "status $status"; cat "$work/stdout" "$work/stderr"
    [ "$status" -eq 1 ] && [ ! -s "$work/stdout" ] && grep -qF "$text" "$work/stderr"
}
check "--version prints \"morvane $version\" without a display" version_answers
check "--help prints the usage, folders too, without a display" help_answers
check "an unknown option exits 1 without a display" option_error_answers "'bogus'" --bogus
check "an option without its value exits 1 without a display" option_error_answers "'-platform'" -platform

manifest_is_complete() {
    local path left
    while IFS= read -r path || [ -n "$path" ]; do # the last line has no line break
        [ -e "$root$path" ] || [ -L "$root$path" ] || { echo "not installed: $path"; return 1; }
        rm -f "$root$path"
    done <"$work/manifest"
    left="$(find "$root" ! -type d)"
    echo "left: $left"
    [ -z "$left" ]
}
check "removing what install_manifest.txt lists leaves no file" manifest_is_complete

[ "$failures" -eq 0 ] || { echo "check-install: $failures check(s) failed" >&2; exit 1; }
