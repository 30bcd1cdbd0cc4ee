# shellcheck shell=bash
# Runs Morvane the way a user's desktop does, but privately: its own Xvfb on
# a free display, a small window manager (openbox) and a fresh, empty home
# folder. Sourced by tests/e2e/window_smoke.sh and bench/startup_bench.sh.
#
#   xsession_start              start Xvfb and openbox; sets DISPLAY
#   xsession_launch PROGRAM [ARGUMENT...]
#                               start the program; sets XSESSION_APP_PID
#   xsession_stop               end everything started here, remove the folder
#
# Callers call xsession_stop_on_exit before xsession_start.
#
# Driving the window as a user does, with xdotool (after xsession_start):
#
#   xsession_guard_shutdown     put recording stand-ins for systemctl and the
#                               power commands first on PATH, for every
#                               program started afterwards
#   xsession_shutdown_attempts  print what the stand-ins recorded
#   xsession_wait_window SECONDS TITLE     print the id of the shown window
#                                          titled exactly TITLE
#   xsession_focus SECONDS WINDOW          make WINDOW the active window
#   xsession_wait_closed SECONDS WINDOW    wait until WINDOW is no longer shown
#   xsession_add_files SECONDS WINDOW PATH...
#                               queue files through "Add Input File..."
#   xsession_key_until_window SECONDS WINDOW KEY TITLE
#                               press KEY in WINDOW until a window titled
#                               TITLE shows; print its id
#   xsession_window_titles      print the titles of the shown windows

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
    # second. -noreset: by default the server resets whenever its last client
    # disconnects, and a client connecting during that reset is refused; here
    # wmctrl's polls come and go while openbox is still connecting.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
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
# folder (or $XSESSION_HOME, when the caller set it) and nothing of the
# caller's desktop session (no Wayland, no session bus, no XDG folders of the
# caller, not the caller's language: the keys the checks press are the
# English mnemonics). The machine's system bus is out of
# reach too, so a run takes no sleep inhibitor from the machine's logind. Its
# output goes to $XSESSION_DIR/app.log.
xsession_launch() {
    env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER \
        -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME \
        -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE \
        LANGUAGE=en_US LC_ALL=C.UTF-8 \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$XSESSION_DIR/no-system-bus" \
        HOME="${XSESSION_HOME:-$XSESSION_DIR/home}" XDG_RUNTIME_DIR="$XSESSION_DIR/runtime" \
        QT_QPA_PLATFORM=xcb DISPLAY="$DISPLAY" \
        "$@" >>"$XSESSION_DIR/app.log" 2>&1 &
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

# Ends the session whenever the caller exits, also when it is interrupted or
# killed; a failing caller first shows what the program wrote.
xsession_stop_on_exit() {
    trap xsession_finish EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
}

xsession_finish() {
    local status=$?
    if [ "$status" -ne 0 ] && [ -n "$XSESSION_DIR" ] && [ -s "$XSESSION_DIR/app.log" ]; then
        echo "--- program output ---" >&2
        cat "$XSESSION_DIR/app.log" >&2
    fi
    xsession_stop
    exit "$status"
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

# Stand-ins for the commands that power the computer off. They only append
# their name and arguments to $XSESSION_DIR/shutdown-attempts; nothing started
# from here can reach the real ones, whatever the program is asked to do.
xsession_guard_shutdown() {
    local guard="$XSESSION_DIR/guard" command
    mkdir -p "$guard"
    for command in systemctl shutdown poweroff halt reboot loginctl; do
        printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$command" "$XSESSION_DIR/shutdown-attempts" \
            >"$guard/$command"
        chmod +x "$guard/$command"
    done
    PATH="$guard:$PATH"
    export PATH
}

# Prints what the stand-ins recorded; fails when they were never called.
xsession_shutdown_attempts() {
    [ -s "$XSESSION_DIR/shutdown-attempts" ] && cat "$XSESSION_DIR/shutdown-attempts"
}

xsession_window_titles() {
    local window
    for window in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        xdotool getwindowname "$window" 2>/dev/null || true
    done | grep -v '^$' | sort | uniq
}

# xsession_wait_window SECONDS TITLE: prints the id of a visible window whose
# title is exactly TITLE; fails after SECONDS.
xsession_wait_window() {
    local pattern ids
    # xdotool takes an extended regular expression: its special characters
    # in the title are escaped.
    # shellcheck disable=SC2001,SC2016
    pattern="^$(sed 's/[][\\.*^$()+?{}|]/\\&/g' <<<"$2")\$"
    # Searched again and again rather than with --sync: a search fails when
    # another window (a short-lived progress dialog, say) goes away under it.
    xsession_found_window() {
        ids="$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null)" && [ -n "$ids" ]
    }
    xsession_wait_for "$1" xsession_found_window || return 1
    echo "${ids%%$'\n'*}"
}

xsession_is_active() {
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]
}

xsession_is_shown() {
    xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

xsession_is_closed() {
    ! xsession_is_shown "$1"
}

# xsession_focus SECONDS WINDOW: keys typed afterwards go to WINDOW. A new
# window is normally activated by the window manager; one that is not by then
# is activated as a click on it would.
xsession_focus() {
    xsession_wait_for 2 xsession_is_active "$2" && return 0
    timeout "$1" xdotool windowactivate --sync "$2" >/dev/null 2>&1 || true
    xsession_wait_for "$1" xsession_is_active "$2"
}

xsession_wait_closed() {
    xsession_wait_for "$1" xsession_is_closed "$2"
}

# xsession_add_files SECONDS WINDOW PATH...: queues files as a user does:
# Alt+A in WINDOW opens the "Add File(s)" dialog, the absolute paths go into
# its file name field, each in double quotes, and Enter takes them. Fails if
# a step takes longer than SECONDS, or if the dialog stays open (it refuses a
# name that is not an existing file).
xsession_add_files() {
    local seconds=$1 window=$2 names="" path dialog
    shift 2
    for path in "$@"; do
        case $path in
        /*) ;;
        *) echo "xsession_add_files: $path is not an absolute path" >&2; return 1 ;;
        esac
        case $path in
        *'"'*) echo "xsession_add_files: the dialog cannot take a name with a double quote: $path" >&2; return 1 ;;
        esac
        names+="\"$path\" "
    done
    xsession_focus "$seconds" "$window" || return 1
    xdotool key alt+a
    dialog="$(xsession_wait_window "$seconds" "Add File(s)")" || return 1
    xsession_focus "$seconds" "$dialog" || return 1
    xdotool type --delay 10 "${names% }"
    xdotool key Return
    xsession_wait_closed "$seconds" "$dialog"
}

# xsession_key_until_window SECONDS WINDOW KEY TITLE: presses KEY in WINDOW,
# and again every few seconds while no window titled TITLE shows, then
# prints that window's id; fails after SECONDS. A key pressed while a
# short-lived dialog of the program had the keyboard (the progress of an add
# that is still measuring its files) went to that dialog, and pressing it
# again once the step it starts is under way does nothing.
xsession_key_until_window() {
    local deadline=$(($(xsession_now_ms) + $1 * 1000)) id
    while [ "$(xsession_now_ms)" -lt "$deadline" ]; do
        xsession_focus 10 "$2" || true
        xdotool key "$3"
        if id="$(xsession_wait_window 10 "$4")"; then
            echo "$id"
            return 0
        fi
    done
    return 1
}
