#!/usr/bin/env bash
# Starts the built program on a private X display under a window manager, as a
# user would, and checks what the user first sees: one window titled
# "Morvane", 600 x 480 and not resizable, with its icon and its banner; the
# default output folder created in the (fresh) home folder; and closing the
# window from the window manager ends the program at once with exit code 0.
#
#   window_smoke.sh <path to the morvane program>
set -euo pipefail

program="${1:?usage: window_smoke.sh <path to the morvane program>}"
[ -x "$program" ] || { echo "window_smoke: $program is not an executable" >&2; exit 1; }

# shellcheck source=tests/e2e/xsession.sh
. "$(dirname "$0")/xsession.sh"

# Generous for a sanitizer build on a busy machine; a normal start takes well
# under a second.
readonly APPEAR_SECONDS=30
# Closing must end the program promptly: no hang in teardown.
readonly EXIT_SECONDS=5
# Standard deviation (0..1) of the grey values in the banner area; an empty
# or missing banner gives about 0, the banner about 0.2.
readonly BANNER_MIN_DEVIATION=0.05

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}

xsession_stop_on_exit

xsession_require xdotool xwininfo xprop import convert
xsession_start
xsession_launch "$program"

# The client window carries the title; the window manager's frame does not.
window="$(timeout "$APPEAR_SECONDS" xdotool search --sync --onlyvisible --name '^Morvane$' | head -n 1)" ||
    xsession_die "no visible window titled \"Morvane\" within ${APPEAR_SECONDS}s"
pass "window \"Morvane\" is shown (id $window)"

check_window_count() {
    local count
    count="$(xdotool search --onlyvisible --name '^Morvane$' | wc -l)"
    if [ "$count" -eq 1 ]; then
        pass "exactly one such window"
    else
        fail "$count visible windows titled \"Morvane\""
    fi
}

check_size() {
    local info width height
    info="$(xwininfo -id "$window")"
    width="$(awk '/^ *Width:/ {print $2}' <<<"$info")"
    height="$(awk '/^ *Height:/ {print $2}' <<<"$info")"
    if [ "$width" = 600 ] && [ "$height" = 480 ]; then
        pass "client area is 600 x 480"
    else
        fail "client area is $width x $height, expected 600 x 480"
    fi
}

# A fixed-size window tells the window manager so through equal minimum and
# maximum sizes; that is what keeps the user from resizing it.
check_fixed_size() {
    local hints
    hints="$(xprop -id "$window" WM_NORMAL_HINTS)"
    if grep -q 'program specified minimum size: 600 by 480' <<<"$hints" &&
        grep -q 'program specified maximum size: 600 by 480' <<<"$hints"; then
        pass "window cannot be resized"
    else
        fail "window size is not fixed at 600 x 480: $(tr -s "\n\t" "  " <<<"$hints")"
    fi
}

# The icon reaches the desktop as _NET_WM_ICON: width, height and pixels for
# each image. All five images of the icon file must have been decoded, which
# also shows that Qt's ICO support was there at run time.
check_icon() {
    local sizes
    # xprop reads 250000 bytes of a property unless told otherwise; five
    # images up to 256 x 256 take about 340000.
    sizes="$(xprop -id "$window" -len 4000000 -notype -f _NET_WM_ICON 32c '=$0+\n' _NET_WM_ICON |
        sed 's/^_NET_WM_ICON=//' | tr -d ' ' | tr ',' '\n' |
        awk 'NF { v[n++] = $1 } END { i = 0; while (i + 1 < n) { printf "%sx%s ", v[i], v[i+1]; i += 2 + v[i] * v[i+1] } }')"
    local size
    for size in 16x16 32x32 48x48 128x128 256x256; do
        grep -qw "$size" <<<"$sizes" || { fail "window icon lacks its $size image (has: ${sizes:-none})"; return; }
    done
    pass "window icon has its 16, 32, 48, 128 and 256 pixel images"
}

# The banner fills the top of the window; without it (a missing resource or
# no JPEG support) the area is plain window background.
check_banner() {
    local shot="$XSESSION_DIR/window.png" deviation
    import -window "$window" "$shot"
    deviation="$(convert "$shot" -crop 600x100+0+0 +repage -colorspace Gray \
        -format '%[fx:standard_deviation]' info:)"
    if awk -v d="$deviation" -v min="$BANNER_MIN_DEVIATION" 'BEGIN { exit !(d > min) }'; then
        pass "banner area shows a picture (deviation $deviation)"
    else
        fail "banner area is blank (deviation $deviation, need more than $BANNER_MIN_DEVIATION)"
    fi
}

check_output_folder() {
    local folder="$XSESSION_DIR/home/Documents/Morvane Output"
    if [ -d "$folder" ]; then
        pass "default output folder was created"
    else
        fail "default output folder \"$folder\" was not created"
    fi
}

# Closing from the window manager sends WM_DELETE_WINDOW, as the title bar's
# close button does.
check_close() {
    local started elapsed status=0
    started="$(xsession_now_ms)"
    wmctrl -i -c "$window"
    if ! xsession_wait_exit "$XSESSION_APP_PID" "$EXIT_SECONDS"; then
        fail "program still running ${EXIT_SECONDS}s after its window was closed"
        return
    fi
    elapsed=$(($(xsession_now_ms) - started))
    wait "$XSESSION_APP_PID" || status=$?
    XSESSION_APP_PID=""
    if [ "$status" -eq 0 ]; then
        pass "closing the window ended the program in ${elapsed} ms with exit code 0"
    else
        fail "closing the window ended the program with exit code $status"
    fi
}

check_window_count
check_size
check_fixed_size
check_icon
check_banner
check_output_folder
check_close

if [ "$failures" -ne 0 ]; then
    echo "window_smoke: $failures check(s) failed" >&2
    exit 1
fi
echo "window_smoke: all checks passed"
