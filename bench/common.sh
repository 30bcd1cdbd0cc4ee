# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Shared by the benchmark scripts (sourced, not run).

# make_music DIR COUNT SECONDS: COUNT stereo 44.1 kHz FLAC files of SECONDS
# each (a tone with pink noise, a different pitch in each) in DIR.
make_music() {
    local dir=$1 count=$2 seconds=$3 i
    echo "generating $count files of $seconds s (stereo 44.1 kHz FLAC)..."
    for i in $(seq 1 "$count"); do
        ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=$((300 + 7 * i)):duration=$seconds" \
            -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:duration=$seconds" \
            -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" "$dir/song$i.flac"
    done
}

now() { date +%s.%N; }

# make_workdir: a temporary folder in $work, removed when the script ends or
# is interrupted. Call it in the script itself, not in $(...), or the traps
# go with the subshell.
make_workdir() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
}

# require_tools NAME TOOL...: stops the script NAME when a tool is missing.
require_tools() {
    local name=$1 tool
    shift
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$name: $tool is missing (scripts/packages.sh)" >&2; exit 1; }
    done
}

# time_worker TOOLS: the seconds the conversion worker (bench_worker, as the
# window runs it) takes to convert $work/in into a fresh $work/out at
# $quality, with TOOLS tools at once ($bin is the build's bin/ folder).
time_worker() {
    rm -rf "$work/out" && mkdir "$work/out"
    local start
    start=$(now)
    "$bin/bench_worker" "$work/in" "$work/out" "$quality" "$1" >/dev/null
    echo "$(now) - $start" | bc
}

# make_noloudness_bin: $noloudness, a folder in $work holding copies of the
# front ("ffmpeg") and bench_worker from $bin, with bench_converter_noloudness
# as the converter the front starts: the tool without the loudness
# measurement. Copies, not links: the front and the worker find the programs
# beside their own files.
make_noloudness_bin() {
    local contract converter
    contract="$(dirname "${BASH_SOURCE[0]}")/../contract/toolcontract.h"
    converter=$(sed -n 's/.*kConverterName\[\] = "\([^"]*\)".*/\1/p' "$contract")
    [ -x "$bin/bench_converter_noloudness" ] || { echo "build bench_converter_noloudness first" >&2; exit 1; }
    noloudness="$work/noloudness"
    mkdir -p "$noloudness"
    cp "$bin/ffmpeg" "$noloudness/"
    [ ! -x "$bin/bench_worker" ] || cp "$bin/bench_worker" "$noloudness/"
    cp "$bin/bench_converter_noloudness" "$noloudness/$converter"
}

# ratio A B: A / B with three decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# median VALUE...: the median of the numbers.
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
