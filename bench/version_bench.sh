#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How quickly "morvane --version" answers: the cost of loading the program
# and its libraries, which every --help, --version and start pays. Runs with
# no display at all, as CI and scripts do. hyperfine times it against the
# stock "ffmpeg -version" for reference and prints both medians and their
# ratio. Target: median under 50 ms.
# Usage: bench/version_bench.sh [build/bin/morvane] [runs]
set -euo pipefail
program="$(realpath "${1:-build/bin/morvane}")"
runs="${2:-50}"
[ -x "$program" ] || { echo "version_bench: build the program first ($program not found)" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "version_bench: hyperfine is missing" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "version_bench: the stock ffmpeg is missing" >&2; exit 1; }

json="$(mktemp)"
trap 'rm -f "$json"' EXIT
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    hyperfine --shell=none --warmup 5 --runs "$runs" --export-json "$json" \
    "$program --version" "ffmpeg -version" >/dev/null

# hyperfine's JSON lists the commands in order; times are in seconds.
mapfile -t medians < <(grep -o '"median": *[0-9.e-]*' "$json" | sed 's/.*: *//')
[ "${#medians[@]}" -eq 2 ] || { echo "version_bench: unexpected hyperfine output" >&2; exit 1; }
awk -v ours="${medians[0]}" -v stock="${medians[1]}" -v runs="$runs" 'BEGIN {
    printf "morvane --version: median %.1f ms (%d runs)\n", ours * 1000, runs
    printf "ffmpeg -version:   median %.1f ms\n", stock * 1000
    printf "ratio ours/stock:  %.2f\n", ours / stock
    printf "target median under 50 ms: %s\n", ours < 0.050 ? "met" : "NOT met"
}'
