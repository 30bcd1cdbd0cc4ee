#!/usr/bin/env bash
# Builds the fuzzing harnesses of tests/fuzz with clang and libFuzzer
# (AddressSanitizer + UndefinedBehaviorSanitizer) in build-fuzz/, makes the
# seed and regression corpora (tests/fuzz/make_corpus.py) and runs every
# harness from them for SECONDS (default 600), printing
# per harness its executions and findings. Inputs that crash a harness are
# kept under build-fuzz/findings/<harness>/; the inputs each harness found
# new coverage with are kept for the next run in build-fuzz/corpus/<harness>/.
#   scripts/fuzz.sh [SECONDS]
#   FUZZ_JOBS=1 scripts/fuzz.sh          harnesses run at a time (default 2)
#   FUZZ_HARNESSES="midi tags" scripts/fuzz.sh 60
# A finding is replayed with: build-fuzz/tests/fuzz/fuzz_<harness> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
jobs=${FUZZ_JOBS:-2}
dir=build-fuzz
all="flacprobe oggprobe tagprobe lengthfields patchedio midi tags id3writer mp3check"
read -r -a harnesses <<<"${FUZZ_HARNESSES:-$all}"

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DMORVANE_FUZZ=ON -DMORVANE_BUILD_BENCH=OFF >/dev/null
targets=(morvane-front)
for harness in "${harnesses[@]}"; do targets+=("fuzz_$harness"); done
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
python3 tests/fuzz/make_corpus.py "$dir/corpus" --tool "$dir/bin/ffmpeg"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_stack_use_after_return=0}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-use_tls=0:print_suppressions=0:suppressions=$PWD/tests/lsan.supp}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# One harness: libFuzzer in fork mode with one worker, so that it goes on
# after a finding (each kept once) for the whole time.
fuzz() {
    local harness=$1 findings="$dir/findings/$1" corpus="$dir/corpus/$1"
    mkdir -p "$findings" "$corpus"
    "$dir/tests/fuzz/fuzz_$harness" "$corpus" "$dir/corpus/seed" "$dir/corpus/regression" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 \
        -ignore_ooms=1 -max_total_time="$seconds" -max_len=16384 -timeout=25 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 >"$dir/fuzz-$harness.log" 2>&1 || true
}

mkdir -p "$dir/findings"
echo "fuzzing ${harnesses[*]} for $seconds s each, $jobs at a time (logs: $dir/fuzz-<harness>.log)"
running=0
for harness in "${harnesses[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    fuzz "$harness" &
    running=$((running + 1))
done
wait

status=0
for harness in "${harnesses[@]}"; do
    log="$dir/fuzz-$harness.log"
    executions=$(grep -aoE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
    found=$(find "$dir/findings/$harness" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l)
    printf '%-13s %12s executions  %s findings\n' "$harness" "${executions:-?}" "$found"
    find "$dir/findings/$harness" -type f | sed 's/^/    /'
    [ "$found" -eq 0 ] || status=1
done
exit "$status"
