#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every text translated, and the .ts files up to date with the sources: runs
# lupdate over the sources into copies of the files, as the
# update_translations target would, and fails when that changes a copy or
# when a copy has a text without its translation.
#   check-translations.sh <lupdate> <ts folder> <lupdate option>... -- <source>...
set -euo pipefail
lupdate="$1" folder="$2"
shift 2
options=()
while [ "$1" != -- ]; do options+=("$1"); shift; done
shift
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
for ts in "$folder"/*.ts; do
    copy="$work/$(basename "$ts")"
    cp "$ts" "$copy"
    plural=()
    case "$ts" in *_en.ts) plural=(-pluralonly) ;; esac # English: the plural forms alone
    "$lupdate" "${options[@]}" "${plural[@]}" "$@" -ts "$copy" >/dev/null
    diff -u "$ts" "$copy" || { echo "FAIL: $ts is behind the sources" >&2; status=1; }
    if grep -n -e 'type="unfinished"' -e 'type="vanished"' -e '<translation></translation>' \
        -e '<numerusform></numerusform>' "$copy"; then
        echo "FAIL: $ts has texts without translation" >&2
        status=1
    fi
done
exit "$status"
