# shellcheck shell=bash
# Runs Morvane the way a user's desktop does, but privately: its own Xvfb on
# a free display, a small window manager (openbox) and a fresh, empty home
# folder. Sourced by tests/e2e/window_smoke.sh and bench/startup_bench.sh.
#
#   xsession_start              start Xvfb and openbox; sets DISPLAY
#   xsession_launch PROGRAM     start the program; sets XSESSION_APP_PID
#   xsession_stop               end everything started here, remove the folder
#
# Callers set `trap xsession_stop EXIT` before xsession_start.

XSESSION_DIR=""
XSESSION_XVFB_PID=""
XSESSION_WM_PID=""
XSESSION_APP_PID=""

xsession_die() {
    echo "$(basename "$0"): $*" >&2
    exit 1
}

xsession_require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null ||
            xsession_die "$tool is missing (install TEST_PACKAGES from scripts/packages.sh)"
    done
}

xsession_now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# xsession_wait_for SECONDS COMMAND...: runs COMMAND every 20 ms until it
# succeeds; fails when SECONDS have passed first.
xsession_wait_for() {
    local deadline=$(($(xsession_now_ms) + $1 * 1000))
    shift
    until "$@"; do
        [ "$(xsession_now_ms)" -lt "$deadline" ] || return 1
        sleep 0.02
    done
}

xsession_wm_ready() {
    wmctrl -m >/dev/null 2>&1
}

xsession_start() {
    xsession_require Xvfb openbox wmctrl
    XSESSION_DIR="$(mktemp -d "${TMPDIR:-/tmp}/morvane-xsession.XXXXXX")"
    mkdir -p "$XSESSION_DIR/home" "$XSESSION_DIR/runtime"
    chmod 700 "$XSESSION_DIR/runtime"

    # -displayfd picks a free display and writes its number once the server
    # accepts connections, so parallel runs never collide. The time limits
    # are for a machine busy with builds; an idle one starts in well under a
    # second.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$XSESSION_DIR/display" >"$XSESSION_DIR/xvfb.log" 2>&1 &
    XSESSION_XVFB_PID=$!
    xsession_wait_for 60 test -s "$XSESSION_DIR/display" ||
        xsession_die "Xvfb did not start: $(cat "$XSESSION_DIR/xvfb.log")"
    DISPLAY=":$(head -n 1 "$XSESSION_DIR/display")"
    export DISPLAY

    HOME="$XSESSION_DIR/home" XDG_RUNTIME_DIR="$XSESSION_DIR/runtime" \
        openbox --sm-disable >"$XSESSION_DIR/openbox.log" 2>&1 &
    XSESSION_WM_PID=$!
    xsession_wait_for 60 xsession_wm_ready ||
        xsession_die "openbox did not start: $(cat "$XSESSION_DIR/openbox.log")"
}

# Starts PROGRAM as a desktop would: on the X display, with the fresh home
# folder and nothing of the caller's desktop session (no Wayland, no session
# bus, no XDG folders of the caller). Its output goes to $XSESSION_DIR/app.log.
xsession_launch() {
    env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER \
        -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME \
        -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE \
        HOME="$XSESSION_DIR/home" XDG_RUNTIME_DIR="$XSESSION_DIR/runtime" \
        QT_QPA_PLATFORM=xcb DISPLAY="$DISPLAY" \
        "$1" >>"$XSESSION_DIR/app.log" 2>&1 &
    XSESSION_APP_PID=$!
}

# xsession_wait_exit PID SECONDS: waits until PID has ended; fails if it is
# still running after SECONDS.
xsession_wait_exit() {
    xsession_wait_for "$2" xsession_gone "$1"
}

xsession_gone() {
    ! kill -0 "$1" 2>/dev/null
}

xsession_end_process() {
    local pid=$1
    [ -n "$pid" ] || return 0
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        xsession_wait_exit "$pid" 5 || kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

xsession_stop() {
    xsession_end_process "$XSESSION_APP_PID"
    xsession_end_process "$XSESSION_WM_PID"
    xsession_end_process "$XSESSION_XVFB_PID"
    XSESSION_APP_PID="" XSESSION_WM_PID="" XSESSION_XVFB_PID=""
    if [ -n "$XSESSION_DIR" ]; then
        rm -rf "$XSESSION_DIR"
        XSESSION_DIR=""
    fi
}
