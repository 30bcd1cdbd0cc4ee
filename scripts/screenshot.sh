#!/usr/bin/env bash
# Takes the README's picture of a run in the middle: on a private X display
# under a window manager, with a fresh home folder, three generated files of
# about ten minutes each are queued, the quality slider is set to Highest
# Quality, and the run is started. Once the first row is green and the
# progress bar is well into the second file, the window is saved as a PNG.
# The window is then closed, which stops the run and removes the partial MP3.
#
#   scripts/screenshot.sh <build>/bin/morvane docs/screenshot-run.png
#
# Needs the TEST_PACKAGES of scripts/packages.sh.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
usage="usage: screenshot.sh <path to the morvane program> <output.png>"
program="${1:?$usage}"
picture="${2:?$usage}"
[ -x "$program" ] || { echo "screenshot: $program is not an executable" >&2; exit 1; }
program="$(realpath "$program")"
picture="$(realpath -m "$picture")"
mkdir -p "$(dirname "$picture")"

# shellcheck source=tests/e2e/xsession.sh
. "$repo/tests/e2e/xsession.sh"

readonly STEP_SECONDS=60
# How long the run may take to reach the moment of the picture.
readonly RUN_SECONDS=240
readonly EXIT_SECONDS=30

# Where the window shows what the picture needs (window coordinates; the
# window is always 600 x 480): a point inside each of the first two rows of
# the table, the slider's groove, and a line through the progress bar.
readonly ROW1_POINT="300,150"
readonly ROW2_POINT="300,180"
readonly SLIDER_X=300 SLIDER_Y=424
readonly BAR_LINE="560x1+20+464"
# The picture is taken once the bar is filled beyond this share: the first of
# the three files done and the second well under way.
readonly BAR_FROM=0.45

die() {
    echo "screenshot: $*" >&2
    exit 1
}

xsession_stop_on_exit

xsession_require xdotool xwininfo wmctrl import convert ffmpeg
xsession_start
xsession_guard_shutdown

# Three pieces of about ten minutes in three formats: long enough that at the
# highest quality the run takes several seconds per file.
music="$XSESSION_DIR/music"
mkdir -p "$music"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=220:duration=600" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:duration=600" \
    -filter_complex amix=inputs=2 -ar 44100 -ac 2 "$music/Harbour Lights.flac"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=330:duration=540" \
    -ac 2 -ar 44100 "$music/Morning Walk.wav"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=660" \
    -ac 2 -c:a libvorbis "$music/Evening Rain.ogg"

xsession_launch "$program"
window="$(xsession_wait_window "$STEP_SECONDS" "Morvane")" || die "no window titled \"Morvane\""

# The slider has no mnemonic: a click gives it the focus, End moves it to
# Highest Quality. The pointer is then moved off the window so that nothing
# in the picture shows it hovering.
xsession_focus "$STEP_SECONDS" "$window" || die "the window did not get the keyboard"
xdotool mousemove --window "$window" "$SLIDER_X" "$SLIDER_Y" click 1
xdotool key End
xdotool mousemove 1023 767

xsession_add_files "$STEP_SECONDS" "$window" \
    "$music/Harbour Lights.flac" "$music/Morning Walk.wav" "$music/Evening Rain.ogg" ||
    die "queueing the files through the add dialog failed"
xsession_focus "$STEP_SECONDS" "$window" || die "the window did not get the keyboard back"
xdotool key alt+c

shot="$XSESSION_DIR/shot.png"
is_dark_green() {
    [ "$(convert "$shot" -format "%[pixel:p{$1}]" info:)" = "srgb(0,128,0)" ]
}
# The share of the line through the bar that has its blue fill.
bar_filled() {
    convert "$shot" -crop "$BAR_LINE" +repage -fx '(b - r) > 0.3' -format '%[fx:mean]' info:
}
moment_reached() {
    import -window "$window" "$shot" || return 1
    is_dark_green "$ROW1_POINT" && ! is_dark_green "$ROW2_POINT" &&
        awk -v f="$(bar_filled)" -v from="$BAR_FROM" 'BEGIN { exit !(f > from) }'
}
xsession_wait_for "$RUN_SECONDS" moment_reached ||
    die "the run did not reach its second file within ${RUN_SECONDS}s (first row green, bar past $BAR_FROM)"
# Without the time stamps import writes, the same picture gives the same file.
convert "$shot" -strip "$picture"
echo "screenshot: wrote $picture (bar $(bar_filled) filled)"

# Closing the window mid-run stops the run; only the finished MP3 stays.
wmctrl -i -c "$window"
xsession_wait_exit "$XSESSION_APP_PID" "$EXIT_SECONDS" ||
    die "the program did not end within ${EXIT_SECONDS}s of closing its window"
XSESSION_APP_PID=""
left="$(find "$XSESSION_DIR/home/Documents/Morvane Output" -mindepth 1 -printf '%f ' 2>/dev/null)"
[ "$left" = "Harbour Lights.mp3 " ] ||
    echo "screenshot: note: the output folder holds: ${left:-nothing}" >&2
if attempts="$(xsession_shutdown_attempts)"; then
    die "the program tried to power the computer off: $attempts"
fi
