#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A music library of ALBUMS folders of 10 tracks each
# (Artist N/Album M/NN - Title.ext, a cover.jpg beside them): times adding it
# through the window and a second run over it, with every MP3 already there,
# answered "Ignore" once for all. The tracks are hard links to three short
# tagged files (FLAC, MP3, Ogg), so making the library takes seconds.
# Usage: bench/library_bench.sh [build/bin] [ALBUMS]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bin=$(realpath "${1:-build/bin}")
albums=${2:-1000}
make_workdir
mkdir -p "$work/src" "$work/Music" "$work/out"
exts=(flac mp3 ogg)
for ext in "${exts[@]}"; do
    ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=4" -ac 2 \
        -metadata title=Title -metadata artist=Artist -metadata album=Album "$work/src/t.$ext"
done
ffmpeg -nostdin -v error -f lavfi -i "color=c=blue:s=64x64" -frames:v 1 "$work/src/cover.jpg"
echo "making a library of $albums albums, $((albums * 10)) tracks..."
for a in $(seq 1 "$albums"); do
    album="$work/Music/Artist $((a % 100))/Album $a"
    mkdir -p "$album" "$work/out/Music/Artist $((a % 100))/Album $a"
    ln "$work/src/cover.jpg" "$album/cover.jpg"
    for t in $(seq -w 1 10); do
        ext=${exts[$((10#$t % 3))]}
        ln "$work/src/t.$ext" "$album/$t - Track $t.$ext"
        : > "$work/out/Music/Artist $((a % 100))/Album $a/$t - Track $t.mp3"
    done
done
"$bin/bench_library" "$work/Music" "$work/out"
