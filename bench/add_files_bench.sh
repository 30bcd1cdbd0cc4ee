#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Adding many files: times adding N generated files through the window's add
# path (and one stock ffprobe run per file on the same files), then a queue
# of many rows added and removed again, at two sizes, to show the cost grows
# in proportion to the rows.
# Usage: bench/add_files_bench.sh [build/bin] [N] [many rows]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bin=$(realpath "${1:-build/bin}")
count=${2:-1000}
rows=${3:-10000}
make_workdir
mkdir "$work/files"
echo "generating $count files (30 s each, WAV, FLAC and MP3 in turn)..."
formats=(wav flac mp3)
for i in $(seq 1 "$count"); do
    ext=${formats[$((i % 3))]}
    ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=$((200 + i % 800)):duration=30" -ac 2 "$work/files/track$i.$ext"
done
echo "--- $count files"
"$bin/bench_add_files" "$work/files"
# For scale: every probe is a program started, and starting programs has a
# floor that depends on the machine (a virtual one can take milliseconds).
start=$(date +%s%N)
seq 1 "$count" | xargs -P "$(nproc)" -n 1 /bin/true
echo "starting /bin/true $count times, $(nproc) at once: $(( ($(date +%s%N) - start) / 1000000 )) ms"

# Many rows: links to a few files under distinct names (the queue refuses
# names it holds already).
for size in $((rows / 2)) "$rows"; do
    rm -rf "$work/many" && mkdir "$work/many"
    for i in $(seq 1 "$size"); do
        linked="$work/files/track$((i % 3 + 1)).${formats[$(((i % 3 + 1) % 3))]}"
        ln "$linked" "$work/many/row$i.${linked##*.}"
    done
    echo "--- $size rows"
    "$bin/bench_add_files" "$work/many" -
done
