#!/usr/bin/env bash
# Start-up time as the user sees it: from starting the program to its window
# being on screen (mapped and viewable) on a private Xvfb display under a
# window manager. The window is closed after each start and the program must
# end before the next one. One uncounted warm-up start, then RUNS timed ones;
# prints every time and the median.
# Usage: bench/startup_bench.sh [build/bin/morvane] [runs]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
program="$(realpath "${1:-build/bin/morvane}")"
runs="${2:-15}"
[ -x "$program" ] || { echo "startup_bench: build the program first ($program not found)" >&2; exit 1; }

# shellcheck source=tests/e2e/xsession.sh
. "$repo/tests/e2e/xsession.sh"
xsession_stop_on_exit
xsession_require xwininfo wmctrl
xsession_start

now_us() {
    local t=${EPOCHREALTIME/[.,]/}
    echo $((10#$t))
}

# Prints the window's id once the window titled "Morvane" is viewable.
# Polls every few milliseconds (xwininfo itself takes about 2 ms), so the
# times are good to within about 5 ms.
wait_viewable() {
    local deadline=$(($(now_us) + 30000000)) info
    while :; do
        if info="$(xwininfo -name Morvane 2>/dev/null)" && grep -q 'Map State: IsViewable' <<<"$info"; then
            awk '/Window id:/ {print $4; exit}' <<<"$info"
            return 0
        fi
        [ "$(now_us)" -lt "$deadline" ] || return 1
        sleep 0.003
    done
}

# One start: prints the milliseconds from launch to a viewable window.
start_once() {
    local started shown window
    started="$(now_us)"
    xsession_launch "$program"
    window="$(wait_viewable)" || xsession_die "no viewable window \"Morvane\" within 30 s"
    shown="$(now_us)"
    wmctrl -i -c "$window"
    xsession_wait_exit "$XSESSION_APP_PID" 10 || xsession_die "program did not end after its window was closed"
    wait "$XSESSION_APP_PID" || xsession_die "program ended with exit code $?"
    XSESSION_APP_PID=""
    echo $(((shown - started) / 1000))
}

start_once >/dev/null
times=()
for run in $(seq 1 "$runs"); do
    times+=("$(start_once)")
    echo "run $run: ${times[-1]} ms"
done
mapfile -t sorted < <(printf '%s\n' "${times[@]}" | sort -n)
count=${#sorted[@]}
if ((count % 2)); then
    median=${sorted[count / 2]}
else
    median=$(((sorted[count / 2 - 1] + sorted[count / 2]) / 2))
fi
echo "start-up to window shown: median $median ms (min ${sorted[0]}, max ${sorted[count - 1]}, $count runs)"
