#!/usr/bin/env bash
# The duration probe ("ffmpeg -i file") by its two paths against ffprobe, on
# a 203.7-second stereo tone in each format people queue most:
#   front:     our tool as the program starts it, answering with TagLib (run
#              from a folder without the converter, so a hand-over would fail
#              the benchmark instead of being timed by mistake);
#   converter: the converter behind it, on FFmpeg's libraries;
#   ffprobe:   "ffprobe -v error -show_entries format=duration -of csv=p=0".
# hyperfine medians, taken in one run per format; prints the ratios with the
# targets: front median <= 10 ms and front/ffprobe <= 0.15.
# Usage: bench/probe_bench.sh [build/bin] [runs]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bin="$(realpath "${1:-build/bin}")"
runs="${2:-40}"
front="$bin/ffmpeg"
converter="$bin/morvane-converter"
stock=/usr/bin/ffmpeg
ffprobe=/usr/bin/ffprobe
for program in "$front" "$converter"; do
    [ -x "$program" ] || { echo "probe_bench: build the tool first ($program not found)" >&2; exit 1; }
done
require_tools probe_bench "$stock" "$ffprobe" hyperfine
make_workdir
mkdir "$work/front"
cp "$front" "$work/front/ffmpeg"

echo "Making the inputs ..."
make() { "$stock" -nostdin -v error -f lavfi -i "sine=frequency=440:duration=203.7" -ac 2 -ar "$1" "${@:2}"; }
make 44100 "$work/in.wav"
make 44100 "$work/in.flac"
make 44100 "$work/in.aiff"
make 44100 -c:a libmp3lame -q:a 2 "$work/in.mp3"
make 44100 -c:a libvorbis "$work/in.ogg"
make 48000 "$work/in.opus"
make 44100 "$work/in.m4a"

ms() { awk -v s="$1" 'BEGIN { printf "%.1f", s * 1000 }'; }

# What starting any program costs on this machine now, for scale.
hyperfine -N --warmup 5 --runs "$runs" --export-csv "$work/floor.csv" /bin/true >/dev/null 2>>"$work/warnings"
echo
echo "starting /bin/true: $(ms "$(awk -F, 'NR == 2 { print $4 }' "$work/floor.csv")") ms (median)"
printf '%-5s %9s %13s %13s %11s %14s %16s  %s\n' input 'front ms' 'front CPU ms' 'converter ms' 'ffprobe ms' \
    'front/ffprobe' 'front/converter' targets
for format in wav flac aiff mp3 ogg opus m4a; do
    input="$work/in.$format"
    "$work/front/ffmpeg" -i "$input" >/dev/null 2>&1 \
        || { echo "probe_bench: the front handed $format over to the converter" >&2; exit 1; }
    hyperfine -N --warmup 5 --runs "$runs" --export-csv "$work/probe.csv" \
        "'$work/front/ffmpeg' -i '$input'" "'$converter' -i '$input'" \
        "'$ffprobe' -v error -show_entries format=duration -of csv=p=0 '$input'" >/dev/null 2>>"$work/warnings"
    # Columns: command,mean,stddev,median,user,system,...; rows 2-4 in the
    # order above. CPU time (user + system) shows what waiting for a busy
    # machine adds to the wall time.
    front_s=$(awk -F, 'NR == 2 { print $4 }' "$work/probe.csv")
    front_cpu_s=$(awk -F, 'NR == 2 { print $5 + $6 }' "$work/probe.csv")
    converter_s=$(awk -F, 'NR == 3 { print $4 }' "$work/probe.csv")
    ffprobe_s=$(awk -F, 'NR == 4 { print $4 }' "$work/probe.csv")
    r=$(ratio "$front_s" "$ffprobe_s")
    targets=$(awk -v s="$front_s" -v r="$r" 'BEGIN { print (s <= 0.010 && r <= 0.15) ? "met" : "MISSED" }')
    printf '%-5s %9s %13s %13s %11s %14s %16s  %s\n' "$format" "$(ms "$front_s")" "$(ms "$front_cpu_s")" "$(ms "$converter_s")" \
        "$(ms "$ffprobe_s")" "$r" "$(ratio "$front_s" "$converter_s")" "$targets"
done
grep -q outliers "$work/warnings" 2>/dev/null \
    && echo "(hyperfine saw outliers: other work on the machine; rerun when it is idle)"
