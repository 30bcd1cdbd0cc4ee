#!/usr/bin/env bash
# Our encoder tool against the stock programs on the same 5-minute stereo
# 44.1 kHz music-like signal (two tones and pink noise), as WAV and as FLAC:
#   conversion: ours -aq 99 / stock "ffmpeg -c:a libmp3lame -q:a 0" / "lame -V 0"
#               (lame reads no FLAC), median wall time and peak memory of RUNS
#               runs, taken in turns so drift hits every program alike; and
#               ours once more without the loudness measurement
#               (bench_converter_noloudness behind the front), to price it;
#   probe:      "ours -i file" / "ffprobe -show_entries format=duration", median
#               wall time by hyperfine.
# Prints the medians and the ratios ours/stock with the targets: conversion
# wall time <= 1.02, peak memory <= 1.00, probe wall time <= 0.60; and the
# cost of the loudness measurement, wall time ours/ours without it <= 1.05.
# Usage: bench/encoder_bench.sh [build/bin] [runs]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bin="$(realpath "${1:-build/bin}")"
runs="${2:-5}"
ours="$bin/ffmpeg"
stock=/usr/bin/ffmpeg
ffprobe=/usr/bin/ffprobe
[ -x "$ours" ] || { echo "encoder_bench: build the tool first ($ours not found)" >&2; exit 1; }
require_tools encoder_bench "$stock" "$ffprobe" lame hyperfine /usr/bin/time
make_workdir
make_noloudness_bin

echo "Making the 5-minute input (WAV and FLAC) ..."
"$stock" -nostdin -v error -f lavfi -i "sine=frequency=220:duration=300" -f lavfi -i "sine=frequency=331:duration=300" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.1:seed=7:duration=300" \
    -filter_complex "[0][1][2]amix=inputs=3,volume=2,aformat=channel_layouts=stereo" -ar 44100 -c:a pcm_s16le "$work/in.wav"
"$stock" -nostdin -v error -i "$work/in.wav" "$work/in.flac"

# One run: prints "<wall seconds> <peak kB>"; fails when the program fails.
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1 || { echo "encoder_bench: failed: $*" >&2; return 1; }
    cat "$work/time"
}

verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t) ? "meets target <= " t : "MISSES target <= " t }'; }

convert_with() {
    local tool="$1" input="$2" output="$work/out-$1.mp3"
    case "$tool" in
        ours) measure "$ours" -i "$input" -acodec libmp3lame -aq 99 "$output" ;;
        noloud) measure "$noloudness/ffmpeg" -i "$input" -acodec libmp3lame -aq 99 "$output" ;;
        stock) measure "$stock" -nostdin -y -i "$input" -c:a libmp3lame -q:a 0 "$output" ;;
        lame) measure lame --quiet -V 0 "$input" "$output" ;;
    esac
}

echo
printf '%-6s %-6s %12s %12s %10s\n' input tool 'wall s' 'peak kB' 'MP3 bytes'
for format in wav flac; do
    input="$work/in.$format"
    tools="ours noloud stock"
    [ "$format" = wav ] && tools="ours noloud stock lame"
    for tool in $tools; do : >"$work/$tool.times"; done
    for _ in $(seq "$runs"); do
        for tool in $tools; do convert_with "$tool" "$input" >>"$work/$tool.times"; done
    done
    for tool in $tools; do
        # shellcheck disable=SC2046
        wall=$(median $(cut -d' ' -f1 <"$work/$tool.times"))
        # shellcheck disable=SC2046
        peak=$(median $(cut -d' ' -f2 <"$work/$tool.times"))
        printf '%-6s %-6s %12s %12s %10s\n' "$format" "$tool" "$wall" "$peak" "$(stat -c %s "$work/out-$tool.mp3")"
        eval "wall_$tool=$wall peak_$tool=$peak"
    done
    r=$(ratio "$wall_ours" "$wall_stock")
    echo "  $format: wall time ours/stock ffmpeg = $r ($(verdict "$r" 1.02))"
    r=$(ratio "$peak_ours" "$peak_stock")
    echo "  $format: peak memory ours/stock ffmpeg = $r ($(verdict "$r" 1.00))"
    r=$(ratio "$wall_ours" "$wall_noloud")
    echo "  $format: wall time ours/ours without loudness = $r ($(verdict "$r" 1.05))"
done

echo
for format in wav flac; do
    input="$work/in.$format"
    hyperfine -N --warmup 3 --runs 30 --export-csv "$work/probe.csv" \
        "'$ours' -i '$input'" "'$ffprobe' -v error -show_entries format=duration -of csv=p=0 '$input'" >/dev/null
    # Columns: command,mean,stddev,median,...; row 2 is ours, row 3 ffprobe.
    probe_ours=$(awk -F, 'NR == 2 { print $4 }' "$work/probe.csv")
    probe_stock=$(awk -F, 'NR == 3 { print $4 }' "$work/probe.csv")
    r=$(ratio "$probe_ours" "$probe_stock")
    printf 'probe %-4s: ours %.1f ms, ffprobe %.1f ms, ratio %s (%s)\n' "$format" \
        "$(awk -v s="$probe_ours" 'BEGIN { print s * 1000 }')" "$(awk -v s="$probe_stock" 'BEGIN { print s * 1000 }')" \
        "$r" "$(verdict "$r" 0.60)"
done
