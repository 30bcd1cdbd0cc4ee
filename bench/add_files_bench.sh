#!/usr/bin/env bash
# Adding files is synchronous: the probe of every file is what the user waits
# for. Times adding N generated files through the window's add path and one
# stock ffprobe run per file on the same files.
# Usage: bench/add_files_bench.sh [build/bin] [N]
set -euo pipefail
bin=$(realpath "${1:-build/bin}")
count=${2:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
echo "generating $count files (30 s each, WAV, FLAC and MP3 in turn)..."
formats=(wav flac mp3)
for i in $(seq 1 "$count"); do
    ext=${formats[$((i % 3))]}
    ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=$((200 + i)):duration=30" -ac 2 "$work/files/track$i.$ext"
done
"$bin/bench_add_files" "$work/files"
