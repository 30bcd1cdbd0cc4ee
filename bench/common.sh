# SPDX-License-Identifier: GPL-3.0-or-later
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

# median VALUE...: the median of the numbers.
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
