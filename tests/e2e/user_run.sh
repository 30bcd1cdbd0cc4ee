#!/usr/bin/env bash
# A whole run as a user does it, on a private X display under a window
# manager and with a fresh home folder: three real audio files (WAV, tagged
# FLAC, Ogg Vorbis; one name with a space) are queued through the add dialog
# by typing their paths, converted with the default settings, and the summary
# is answered with "Exit". Checks that the program then ends with exit code 0
# and that the default output folder holds exactly the three MP3s, each as
# long as its input and the FLAC's tags kept, with nothing else left behind.
# The shutdown box is never ticked, and the power commands are stand-ins that
# only record being called.
#
#   user_run.sh <path to the morvane program>
set -euo pipefail

program="${1:?usage: user_run.sh <path to the morvane program>}"
[ -x "$program" ] || { echo "user_run: $program is not an executable" >&2; exit 1; }

# shellcheck source=tests/e2e/xsession.sh
. "$(dirname "$0")/xsession.sh"

# Generous for a sanitizer build on a machine busy with builds; an idle
# release build shows its window in well under a second and converts the
# nine seconds of audio in about one.
readonly APPEAR_SECONDS=60
readonly STEP_SECONDS=30
readonly CONVERT_SECONDS=150
readonly EXIT_SECONDS=30
# Largest difference between an MP3's decoded length and its input's.
readonly DURATION_TOLERANCE=0.05
readonly TITLE="Morning Test"
readonly ARTIST="The Testers"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}
die() {
    echo "FAIL: $*" >&2
    if [ -n "$XSESSION_DIR" ]; then
        echo "shown windows: $(xsession_window_titles | paste -sd '|' -)" >&2
    fi
    exit 1
}

xsession_stop_on_exit

xsession_require xdotool xwininfo ffmpeg ffprobe
xsession_start
xsession_guard_shutdown

# --- the input files, made with the stock ffmpeg ---
inputs="$XSESSION_DIR/music"
mkdir -p "$inputs"
wav="$inputs/morning tone.wav"
flac="$inputs/tagged.flac"
ogg="$inputs/short.ogg"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=3" -ac 2 -ar 44100 "$wav"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=660:duration=4" -ar 48000 \
    -metadata title="$TITLE" -metadata artist="$ARTIST" "$flac"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=550:duration=2" -ar 22050 -c:a libvorbis "$ogg"

output="$XSESSION_DIR/home/Documents/Morvane Output"

# --- the run, through the window ---
xsession_launch "$program"
window="$(xsession_wait_window "$APPEAR_SECONDS" "Morvane")" ||
    die "no window titled \"Morvane\" within ${APPEAR_SECONDS}s"
pass "window shown"

xsession_add_files "$STEP_SECONDS" "$window" "$wav" "$flac" "$ogg" ||
    die "queueing the files through the \"Add File(s)\" dialog did not finish within ${STEP_SECONDS}s per step"
pass "three files queued through the add dialog"

summary="$(xsession_key_until_window "$CONVERT_SECONDS" "$window" alt+c "Conversion Completed!")" ||
    die "no \"Conversion Completed!\" box within ${CONVERT_SECONDS}s of Alt+C (were the files queued?)"
pass "run completed"

# The box opens with "New Conversion", its default button, focused; Right
# moves the focus to "Exit" and space presses it.
xsession_focus "$STEP_SECONDS" "$summary" || die "the summary box did not get the keyboard"
xdotool key Right
xdotool key space
if ! xsession_wait_exit "$XSESSION_APP_PID" "$EXIT_SECONDS"; then
    die "program still running ${EXIT_SECONDS}s after \"Exit\" was pressed in the summary"
fi
status=0
wait "$XSESSION_APP_PID" || status=$?
XSESSION_APP_PID=""
if [ "$status" -eq 0 ]; then
    pass "\"Exit\" ended the program with exit code 0"
else
    fail "\"Exit\" ended the program with exit code $status"
fi

# --- what the run left behind ---
if attempts="$(xsession_shutdown_attempts)"; then
    fail "the program tried to power the computer off: $attempts"
fi

expected="$(printf '%s\n' "morning tone.mp3" "short.mp3" "tagged.mp3")"
found="$(find "$output" -mindepth 1 -maxdepth 1 -printf '%f\n' 2>/dev/null | LC_ALL=C sort)"
if [ "$found" = "$expected" ]; then
    pass "output folder holds exactly the three MP3s"
else
    fail "output folder holds [$(paste -sd '|' - <<<"$found")], expected [$(paste -sd '|' - <<<"$expected")]"
fi

# Decoded length in seconds, from the samples the stock ffmpeg decodes.
decoded_seconds() {
    local rate bytes
    rate="$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate \
        -of default=noprint_wrappers=1:nokey=1 "$1")" || return 1
    bytes="$(ffmpeg -nostdin -v error -i "$1" -map 0:a:0 -ac 1 -f s16le - | wc -c)" || return 1
    [ -n "$rate" ] && [ "$bytes" -gt 0 ] || return 1
    awk -v b="$bytes" -v r="$rate" 'BEGIN { printf "%.4f", b / 2 / r }'
}

check_length() {
    local input=$1 mp3=$2 want got
    if [ ! -f "$mp3" ]; then
        fail "$(basename "$mp3") was not written"
        return
    fi
    want="$(decoded_seconds "$input")" || { fail "cannot decode $(basename "$input")"; return; }
    if ! got="$(decoded_seconds "$mp3")"; then
        fail "$(basename "$mp3") does not decode"
        return
    fi
    if awk -v a="$want" -v b="$got" -v t="$DURATION_TOLERANCE" 'BEGIN { d = a - b; exit !(d <= t && -d <= t) }'; then
        pass "$(basename "$mp3") decodes to ${got}s (input ${want}s)"
    else
        fail "$(basename "$mp3") decodes to ${got}s, its input to ${want}s"
    fi
}

check_length "$wav" "$output/morning tone.mp3"
check_length "$flac" "$output/tagged.mp3"
check_length "$ogg" "$output/short.mp3"

tag() {
    ffprobe -v error -show_entries "format_tags=$1" -of default=noprint_wrappers=1:nokey=1 "$2"
}
if [ -f "$output/tagged.mp3" ]; then
    title="$(tag title "$output/tagged.mp3" || true)"
    artist="$(tag artist "$output/tagged.mp3" || true)"
    if [ "$title" = "$TITLE" ] && [ "$artist" = "$ARTIST" ]; then
        pass "tagged.mp3 kept its title and artist"
    else
        fail "tagged.mp3 has title \"$title\" and artist \"$artist\", expected \"$TITLE\" and \"$ARTIST\""
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "user_run: $failures check(s) failed" >&2
    exit 1
fi
echo "user_run: all checks passed"
