#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# chmcmd writes the time of day it ran at into help.chm twice: into the file
# header and into the #SYSTEM file. This sets both to the time of day of
# SOURCE_DATE_EPOCH (midnight UTC without it), so the same pages always give
# the same help.chm. Viewers do not show these times.
#   fix-chm-times.sh <help.chm>
set -eu
chm="$1"
ms=$(( ${SOURCE_DATE_EPOCH:-0} % 86400 * 1000 )) # milliseconds since midnight, as chmcmd writes them

fail() { echo "fix-chm-times: $chm: $*" >&2; exit 1; }
bytes_at() { od -An -tx1 -v -j "$1" -N "$2" "$chm" | tr -d ' \n'; } # bytes_at <offset> <count>: hex
# byte <shift>: one byte of ms, written as the octal escape printf turns into it.
# shellcheck disable=SC2059
byte() { printf "\\$(printf '%03o' $(( (ms >> $1) & 255 )))"; }
write_at() { dd of="$chm" bs=1 seek="$1" conv=notrunc status=none; } # stdin over the bytes at <offset>

# The header: "ITSF", and the time big-endian at offset 16.
[ "$(bytes_at 0 4)" = 49545346 ] || fail "no ITSF header"
{ byte 24; byte 16; byte 8; byte 0; } | write_at 16

# #SYSTEM (not compressed): its entry 10, four bytes of time little-endian,
# comes right before entry 9, the compiler's version text "HHA Version ...".
version_at="$(LC_ALL=C grep -obUaF 'HHA Version' "$chm" | cut -d: -f1)"
[ "$(printf '%s\n' "$version_at" | wc -w)" -eq 1 ] || fail "not one #SYSTEM version entry"
entry_at=$((version_at - 12))
if [ "$(bytes_at "$entry_at" 4)" != 0a000400 ] || [ "$(bytes_at $((entry_at + 8)) 2)" != 0900 ]; then
    fail "#SYSTEM entry 10 is not before the version entry"
fi
{ byte 0; byte 8; byte 16; byte 24; } | write_at $((entry_at + 4))
