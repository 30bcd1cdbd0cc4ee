#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What converting several files at once gains: the same generated files
# through the conversion worker with one tool per core and with one tool at a
# time, taking turns, several rounds; prints the medians and their ratio.
# With "noloudness" last, the tool runs without the loudness measurement
# (bench_converter_noloudness behind the front).
# Usage: bench/parallel_bench.sh [build/bin] [files] [seconds per file] [rounds] [noloudness]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bin=$(realpath "${1:-build/bin}")
count=${2:-16}
seconds=${3:-60}
rounds=${4:-3}
variant=${5:-}
[ -z "$variant" ] || [ "$variant" = noloudness ] || { echo "parallel_bench: unknown variant $variant" >&2; exit 2; }
quality=50
cores=$(nproc)
make_workdir
if [ "$variant" = noloudness ]; then
    make_noloudness_bin
    bin=$noloudness
fi
mkdir "$work/in"
make_music "$work/in" "$count" "$seconds"

parallel_times=()
sequential_times=()
for round in $(seq 1 "$rounds"); do
    parallel_times+=("$(time_worker "$cores")")
    sequential_times+=("$(time_worker 1)")
    echo "round $round: $cores at once ${parallel_times[-1]} s, one at a time ${sequential_times[-1]} s"
done

p=$(median "${parallel_times[@]}")
s=$(median "${sequential_times[@]}")
echo "median: $cores at once $p s, one at a time $s s, ratio $(echo "scale=3; $p / $s" | bc) (target at most 0.55 on 2 cores)"
