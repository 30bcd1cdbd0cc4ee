#!/usr/bin/env bash
# Takes the README's picture of a finished run: on a private X display under
# a window manager, as the user alex with a home folder of his own
# (/home/alex, on a file system that only this script's processes see), the
# program is started with three files from ~/Music, as a file manager's "Open
# With" starts it, and they are converted: two become MP3s (green rows), and
# one, a damaged recording, fails (red row). Once the summary appears it
# is moved aside and the window is saved as a PNG; then "Exit" is pressed.
#
#   scripts/screenshot.sh <build>/bin/morvane docs/screenshot-run.png
#
# Needs the TEST_PACKAGES of scripts/packages.sh, and root or unprivileged
# user namespaces (for the private /home).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
usage="usage: screenshot.sh <path to the morvane program> <output.png>"
program="${1:?$usage}"
picture="${2:?$usage}"
[ -x "$program" ] || { echo "screenshot: $program is not an executable" >&2; exit 1; }
program="$(realpath "$program")"
picture="$(realpath -m "$picture")"
mkdir -p "$(dirname "$picture")"

# The home folder in the picture is /home/alex. It lies on a tmpfs mounted
# over /home in a mount namespace of this script's own, so the machine's
# /home is neither seen nor touched, and everything goes when the script ends.
readonly HOME_IN_PICTURE=/home/alex
if [ -z "${MORVANE_SCREENSHOT_PRIVATE_HOME:-}" ]; then
    namespace=(unshare --mount --propagation private)
    [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
    exec "${namespace[@]}" env MORVANE_SCREENSHOT_PRIVATE_HOME=1 bash "$0" "$program" "$picture"
fi
mount -t tmpfs -o mode=755 morvane-screenshot /home
mkdir -p "$HOME_IN_PICTURE/Music" "$HOME_IN_PICTURE/Documents"

# shellcheck source=tests/e2e/xsession.sh
. "$repo/tests/e2e/xsession.sh"
XSESSION_HOME="$HOME_IN_PICTURE"

readonly STEP_SECONDS=60
readonly RUN_SECONDS=240
readonly EXIT_SECONDS=30

# Window coordinates (the window is 600 x 480): a point in the name column of
# each of the first three rows, right of the names, and a line through the
# progress bar.
readonly ROW_POINTS=("215,150" "215,180" "215,210")
readonly BAR_LINE="560x1+20+464"

die() {
    echo "screenshot: $*" >&2
    exit 1
}

xsession_stop_on_exit

xsession_require xdotool xwininfo wmctrl import convert ffmpeg
xsession_start
xsession_guard_shutdown

# Two pieces of a few minutes, and a voice memo whose recording was cut off
# before it had a header: nothing can read it.
music="$HOME_IN_PICTURE/Music"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=220:duration=200" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:duration=200" \
    -filter_complex amix=inputs=2 -ar 44100 -ac 2 "$music/Harbour Lights.flac"
head -c 300000 /dev/urandom >"$music/Voice Memo.m4a"
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=180" \
    -ac 2 -c:a libvorbis "$music/Evening Rain.ogg"

# Started as "Open With" in the file manager starts it, with the files.
xsession_launch "$program" "$music/Harbour Lights.flac" "$music/Voice Memo.m4a" "$music/Evening Rain.ogg"
window="$(xsession_wait_window "$STEP_SECONDS" "Morvane")" || die "no window titled \"Morvane\""
summary="$(xsession_key_until_window "$RUN_SECONDS" "$window" alt+c "Conversion Completed!")" ||
    die "the run did not end within ${RUN_SECONDS}s of Alt+C"

# The summary goes beside the window, and the pointer off it, so that the
# picture shows the window alone.
wmctrl -i -r "$summary" -e 0,620,0,-1,-1
xdotool mousemove 1023 767
shot="$XSESSION_DIR/shot.png"
colour_at() {
    convert "$shot" -format "%[pixel:p{$1}]" info:
}
# The share of the line through the bar that has its blue fill.
bar_filled() {
    convert "$shot" -crop "$BAR_LINE" +repage -fx '(b - r) > 0.3' -format '%[fx:mean]' info:
}
picture_ready() {
    import -window "$window" "$shot" || return 1
    [ "$(colour_at "${ROW_POINTS[0]}")" = "srgb(0,128,0)" ] &&
        [ "$(colour_at "${ROW_POINTS[1]}")" = "srgb(255,0,0)" ] &&
        [ "$(colour_at "${ROW_POINTS[2]}")" = "srgb(0,128,0)" ] &&
        awk -v f="$(bar_filled)" 'BEGIN { exit !(f > 0.99) }'
}
xsession_wait_for "$STEP_SECONDS" picture_ready ||
    die "the window does not show green, red and green rows and a full bar (summary moved aside?)"
# Without the time stamps import writes, the same picture gives the same file.
convert "$shot" -strip "$picture"
echo "screenshot: wrote $picture"

# "Exit", as a user would: Right moves from "New Conversion" to it.
xsession_focus "$STEP_SECONDS" "$summary" || die "the summary did not get the keyboard"
xdotool key Right space
xsession_wait_exit "$XSESSION_APP_PID" "$EXIT_SECONDS" ||
    die "the program did not end within ${EXIT_SECONDS}s of \"Exit\""
XSESSION_APP_PID=""
left="$(find "$HOME_IN_PICTURE/Documents/Morvane Output" -mindepth 1 -printf '%f\n' 2>/dev/null | LC_ALL=C sort | paste -sd ' ')"
[ "$left" = "Evening Rain.mp3 Harbour Lights.mp3" ] ||
    echo "screenshot: note: the output folder holds: ${left:-nothing}" >&2
if attempts="$(xsession_shutdown_attempts)"; then
    die "the program tried to power the computer off: $attempts"
fi
