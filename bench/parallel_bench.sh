#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What converting several files at once gains: the same generated files
# through the conversion worker with one tool per core and with one tool at a
# time, taking turns, several rounds; prints the medians and their ratio.
# With "noloudness" last, the tool runs without the loudness measurement
# (bench_converter_noloudness behind the front).
# Usage: bench/parallel_bench.sh [build/bin] [files] [seconds per file] [rounds] [noloudness]
#
# With "onefile" first, one long file on every core instead: a WAV of
# SECONDS (default 360) through the stock ffmpeg, our tool with
# MORVANE_THREADS=1 and our tool with every core, ROUNDS times taking turns;
# prints the median wall and CPU times, the sizes, decoded lengths, track
# gains and the coding error against the input (bench_coding_error), then
# the same for a pure sine (the largest error shows a click at a join), two
# conversions under make -j2 (the most threads busy at once), and an uneven
# queue (one long file and three of 20 s) through the worker.
# Usage: bench/parallel_bench.sh onefile [build/bin] [seconds] [rounds]
set -euo pipefail
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"

# timed LABEL COMMAND...: runs the command, appends "wall cpu" to
# $work/LABEL.times.
timed() {
    local label=$1
    shift
    /usr/bin/time -f "%e %U %S" -o "$work/time.out" "$@" >/dev/null 2>"$work/err.out" ||
        { cat "$work/err.out" >&2; exit 1; }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time.out" >>"$work/$label.times"
}

# column FILE N: the median of the Nth column.
column() {
    local values
    mapfile -t values < <(awk -v n="$2" '{ print $n }' "$1")
    median "${values[@]}"
}

decoded() { ffmpeg -nostdin -v error -y -i "$1" -ac "$2" -f f32le "$3"; }

track_gain() {
    ffprobe -v error -show_entries format_tags=REPLAYGAIN_TRACK_GAIN -of csv=p=0 "$1" | tr -d ' dB'
}

# busy_cores NAME PID: while process PID lives, the CPU time of the
# processes named NAME in each stretch of about 200 ms, as cores kept busy
# (ticks of 10 ms over the stretch's measured length); prints the most of any
# such stretch, and the most threads seen runnable at once (which counts
# threads waiting for a core too).
busy_cores() {
    local most=0 runnable=0 before after now start end
    ticks() { cat /proc/[0-9]*/stat 2>/dev/null | awk -v p="($1)" '$2 == p { t += $14 + $15 } END { print t + 0 }'; }
    before=$(ticks "$1")
    start=$(date +%s.%N)
    while kill -0 "$2" 2>/dev/null; do
        sleep 0.2
        now=$(cat /proc/[0-9]*/task/[0-9]*/stat 2>/dev/null | awk -v p="($1)" '$2 == p && $3 == "R"' | wc -l)
        [ "$now" -le "$runnable" ] || runnable=$now
        after=$(ticks "$1")
        end=$(date +%s.%N)
        # A process that ended takes its ticks along: such a stretch says nothing.
        if [ "$after" -ge "$before" ]; then
            most=$(awk -v a="$after" -v b="$before" -v t="$(echo "$end - $start" | bc)" -v m="$most" \
                'BEGIN { c = (a - b) / (100 * t); print (c > m ? c : m) }')
        fi
        before=$after
        start=$end
    done
    echo "$most cores (most threads runnable at once: $runnable)"
}

one_file_bench() {
    bin=$(realpath "${1:-build/bin}")
    local seconds=${2:-360} rounds=${3:-3} round name
    require_tools parallel_bench ffmpeg ffprobe make bc
    [ -x "$bin/bench_coding_error" ] || { echo "build bench_coding_error first" >&2; exit 1; }
    local converter
    converter=$(sed -n 's/.*kConverterName\[\] = "\([^"]*\)".*/\1/p' "$(dirname "$0")/../contract/toolcontract.h")
    make_workdir
    echo "generating a $seconds s stereo 44.1 kHz WAV and a $seconds s sine..."
    ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=307:duration=$seconds" \
        -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:duration=$seconds" \
        -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -ar 44100 -c:a pcm_s16le "$work/long.wav"
    ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=1000:duration=$seconds" -c:a pcm_s16le "$work/sine.wav"

    for round in $(seq 1 "$rounds"); do
        timed stock ffmpeg -nostdin -v error -y -i "$work/long.wav" -c:a libmp3lame -q:a 0 "$work/stock.mp3"
        timed one env MORVANE_THREADS=1 "$bin/ffmpeg" -i "$work/long.wav" -acodec libmp3lame -aq 99 "$work/one.mp3"
        timed all "$bin/ffmpeg" -i "$work/long.wav" -acodec libmp3lame -aq 99 "$work/all.mp3"
        echo "round $round: stock $(tail -1 "$work/stock.times"), one thread $(tail -1 "$work/one.times")," \
            "all cores $(tail -1 "$work/all.times") (wall, CPU seconds)"
    done
    decoded "$work/long.wav" 2 "$work/in.f32"
    # Cores used: CPU over wall time, which shows what the machine could
    # give while other work ran.
    printf '%-10s %8s %8s %6s %10s %12s %8s\n' "" "wall s" "CPU s" "cores" "bytes" "samples" "gain dB"
    for name in stock one all; do
        decoded "$work/$name.mp3" 2 "$work/$name.f32"
        printf '%-10s %8s %8s %6s %10s %12s %8s\n' "$name" "$(column "$work/$name.times" 1)" \
            "$(column "$work/$name.times" 2)" \
            "$(ratio "$(column "$work/$name.times" 2)" "$(column "$work/$name.times" 1)")" \
            "$(stat -c %s "$work/$name.mp3")" "$(($(stat -c %s "$work/$name.f32") / 8))" \
            "$(track_gain "$work/$name.mp3")"
    done
    echo "input samples $(($(stat -c %s "$work/in.f32") / 8)); stock ffmpeg decoding the joined file says:" \
        "\"$(ffmpeg -nostdin -v error -i "$work/all.mp3" -f null - 2>&1)\""
    local wall_all wall_stock
    wall_all=$(column "$work/all.times" 1)
    wall_stock=$(column "$work/stock.times" 1)
    echo "wall all cores / stock: $(ratio "$wall_all" "$wall_stock") (target at most $(ratio 1.2 "$(nproc)"));" \
        "CPU all cores / one thread: $(ratio "$(column "$work/all.times" 2)" "$(column "$work/one.times" 2)")" \
        "(target at most 1.15); size all / one: $(ratio "$(stat -c %s "$work/all.mp3")" "$(stat -c %s "$work/one.mp3")")"
    echo "coding error, one thread against all cores:"
    "$bin/bench_coding_error" 2 1152 "$work/in.f32" "$work/one.f32" "$work/all.f32"

    echo "pure sine, one thread against all cores:"
    MORVANE_THREADS=1 "$bin/ffmpeg" -i "$work/sine.wav" -acodec libmp3lame -aq 99 "$work/sine1.mp3" >/dev/null 2>&1
    "$bin/ffmpeg" -i "$work/sine.wav" -acodec libmp3lame -aq 99 "$work/sineN.mp3" >/dev/null 2>&1
    decoded "$work/sine.wav" 1 "$work/sine.f32"
    decoded "$work/sine1.mp3" 1 "$work/sine1.f32"
    decoded "$work/sineN.mp3" 1 "$work/sineN.f32"
    "$bin/bench_coding_error" 1 1152 "$work/sine.f32" "$work/sine1.f32" "$work/sineN.f32"

    echo "two conversions under make -j2:"
    printf 'all: a.mp3 b.mp3\n%%.mp3:\n\t+"%s/ffmpeg" -i "%s" -acodec libmp3lame -aq 99 "$@" >/dev/null 2>&1\n' \
        "$bin" "$work/long.wav" >"$work/Makefile"
    local start
    start=$(now)
    make -s -C "$work" -j2 >/dev/null &
    # Process names are cut to 15 characters.
    echo "  most busy at once: $(busy_cores "${converter:0:15}" $!)"
    wait
    echo "  $(echo "$(now) - $start" | bc) s for both"

    if [ -x "$bin/bench_worker" ]; then
        echo "an uneven queue (one $seconds s file and three of 20 s) through the worker:"
        mkdir "$work/in"
        cp "$work/long.wav" "$work/in/"
        make_music "$work/in" 3 20 >/dev/null
        quality=99
        echo "  $(nproc) at once $(time_worker "$(nproc)") s, one at a time $(time_worker 1) s"
    fi
}

if [ "${1:-}" = onefile ]; then
    shift
    one_file_bench "$@"
    exit 0
fi
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
