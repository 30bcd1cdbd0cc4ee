#!/usr/bin/env bash
# The cost of the program around the tool: the same files converted once by
# the conversion worker (as the window runs it) and once by calling the tool
# directly in a shell loop, alternating, several rounds; prints the medians
# and the ratio worker / shell loop. With TOOLS, both run that many tools at
# once (the shell through xargs -P).
# Usage: bench/worker_bench.sh [build/bin] [files] [seconds per file] [rounds] [tools]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bin=$(realpath "${1:-build/bin}")
count=${2:-20}
seconds=${3:-180}
rounds=${4:-3}
tools=${5:-1}
quality=50
make_workdir
mkdir "$work/in"
make_music "$work/in" "$count" "$seconds"

worker_times=()
loop_times=()
for round in $(seq 1 "$rounds"); do
    # As many tools at once as the shell runs: what is measured is the
    # worker's own cost.
    worker_times+=("$(time_worker "$tools")")

    rm -rf "$work/out" && mkdir "$work/out"
    start=$(now)
    printf '%s\0' "$work"/in/*.flac | xargs -0 -P "$tools" -I{} sh -c \
        '"$0" -i "$1" -acodec libmp3lame -aq "$2" "$3/$(basename "$1" .flac).mp3" >/dev/null 2>&1' \
        "$bin/ffmpeg" {} "$quality" "$work/out"
    loop_times+=("$(echo "$(now) - $start" | bc)")
    echo "round $round: worker ${worker_times[-1]} s, shell loop ${loop_times[-1]} s"
done

w=$(median "${worker_times[@]}")
l=$(median "${loop_times[@]}")
echo "median: worker $w s, shell loop $l s, ratio $(echo "scale=4; $w / $l" | bc)"
