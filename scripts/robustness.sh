#!/usr/bin/env bash
# Robustness checks, run by CI after the ordinary tests:
#  1. the whole test suite built with AddressSanitizer + UndefinedBehaviorSanitizer
#     (build-asan), failing on any failed test or any sanitizer report, also one
#     written by a child process such as the client started by an end-to-end test;
#  2. each libFuzzer target (build-fuzz, clang: the link's incoming bytes, the blink
#     composition, the emulator's script reader) for a bounded time, failing on any
#     crash, sanitizer report, time-out or memory growth past the limits below.
# Usage: scripts/robustness.sh [asan|fuzz]...   (default: both)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

asan_build=${VELMO_ASAN_BUILD_DIR:-$root/build-asan}
fuzz_build=${VELMO_FUZZ_BUILD_DIR:-$root/build-fuzz}
fuzz_seconds=${VELMO_FUZZ_SECONDS:-60}
# Resident memory of a fuzz process past which libFuzzer reports an out-of-memory
# failure. The drivers hold a few MiB of input at a time; the rest is the
# toolkit, ASan's shadow memory and its quarantine of freed blocks. In 60 s runs
# the link driver levels off near 150 MiB and the blink driver near 90 MiB.
fuzz_rss_limit_mb=${VELMO_FUZZ_RSS_LIMIT_MB:-512}
# No single allocation may exceed this: the link keeps at most about 1 MiB of an
# unfinished line, so anything near this size is unbounded growth.
fuzz_malloc_limit_mb=64
jobs=$(nproc)

steps=("$@")
((${#steps[@]})) || steps=(asan fuzz)

elapsed() { echo "robustness: $1 took $((SECONDS - $2)) s"; }

# Reports go to files as well as to standard error, so that one written by a
# process whose output a test does not look at still fails the run.
sanitizer_env() {
    local logs=$1
    rm -rf "$logs" && mkdir -p "$logs"
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:log_path=$logs/asan"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan"
    export LSAN_OPTIONS="suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0"
}

fail_on_reports() {
    local logs=$1 reports
    reports=$(find "$logs" -type f -size +0 | sort)
    [[ -z $reports ]] && return 0
    echo "robustness: sanitizer reports found:" >&2
    for r in $reports; do
        echo "==== $r" >&2
        cat "$r" >&2
    done
    return 1
}

run_asan() {
    local start=$SECONDS
    cmake -S "$root" -B "$asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMO_SANITIZE=ON -DVELMO_BUILD_BENCH=OFF >/dev/null
    cmake --build "$asan_build" --parallel "$jobs"
    elapsed "sanitizer build" "$start"

    start=$SECONDS
    local logs=$asan_build/sanitizer-reports status=0
    sanitizer_env "$logs"
    (cd "$asan_build" && "$root/scripts/ctest.sh" --output-on-failure --parallel "$jobs" --timeout 900) || status=$?
    fail_on_reports "$logs" || status=1
    elapsed "sanitizer test run" "$start"
    return "$status"
}

run_fuzz() {
    local start=$SECONDS
    cmake -S "$root" -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ \
        -DVELMO_BUILD_FUZZERS=ON -DVELMO_BUILD_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$fuzz_build" --parallel "$jobs" --target fuzz-link fuzz-blink fuzz-script
    elapsed "fuzz build" "$start"

    # libFuzzer turns every sanitizer report into a failure of its own, with the
    # input that caused it saved. ASan's quarantine of freed blocks is kept small
    # so that the resident size tracks what the code really holds.
    export ASAN_OPTIONS="quarantine_size_mb=16:detect_stack_use_after_return=1"
    export UBSAN_OPTIONS="print_stacktrace=1"
    export LSAN_OPTIONS="suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0"
    local status=0 target
    for target in link blink script; do
        start=$SECONDS
        # The seed corpus stays as committed; what the run discovers goes to the build folder.
        local corpus=$fuzz_build/corpus/$target artifacts=$fuzz_build/artifacts/$target
        mkdir -p "$corpus" "$artifacts"
        # The link driver keeps one link, socket and form for the whole run, whose
        # buffers and caches make allocations and frees differ from input to input;
        # libFuzzer's per-input leak search would then scan the heap at nearly every
        # input. Its memory is bounded by the limits above instead, and the corpus
        # replay in the sanitizer test run checks it for leaks at exit. The check at
        # the end of a fuzz run is off as well: after thousands of unit restarts it
        # has reported a few 24-byte blocks allocated inside the toolkit, with no
        # frame of this project to tell them apart from the toolkit's own caches.
        # The script driver's leak check is off too: Qt 5.15's JSON parser loses
        # a few blocks (24 + 1024 + 120 bytes, all allocated inside QtCore) when
        # a string is cut off by an invalid UTF-8 sequence, and libFuzzer stops
        # at the first such input. The driver itself holds only Qt values.
        local leaks=1
        [[ $target == link || $target == script ]] && leaks=0
        if ! ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=$leaks" \
            "$fuzz_build/bin/fuzz-$target" "$corpus" "$root/fuzz/corpus/$target" \
            -max_total_time="$fuzz_seconds" -rss_limit_mb="$fuzz_rss_limit_mb" \
            -malloc_limit_mb="$fuzz_malloc_limit_mb" -timeout=40 -detect_leaks="$leaks" \
            -artifact_prefix="$artifacts/" -print_final_stats=1 2>"$fuzz_build/fuzz-$target.log"; then
            status=1
            tail -n 60 "$fuzz_build/fuzz-$target.log" >&2
            echo "robustness: fuzz-$target failed; reproducer(s) in $artifacts" >&2
        else
            grep -E '^(#[0-9]+.*DONE|stat::)' "$fuzz_build/fuzz-$target.log" || true
        fi
        elapsed "fuzz-$target" "$start"
    done
    return "$status"
}

run_step() {
    case $1 in
        asan) run_asan ;;
        fuzz) run_fuzz ;;
        *) echo "robustness: unknown step '$1' (asan, fuzz)" >&2; exit 2 ;;
    esac
}

"$root/scripts/setup.sh" robustness
# set -e does not hold inside a function called from `||` or `if`, so a step
# run that way would go on past a failed build and test the binaries of an
# earlier one. One step runs here, where a failure ends the script; several
# run each as a script of its own, so that every step runs and each stops at
# its first failure.
if ((${#steps[@]} == 1)); then
    trap '(($? == 0)) || echo "robustness: ${steps[0]} FAILED in $SECONDS s" >&2' EXIT
    run_step "${steps[0]}"
    echo "robustness: passed in $SECONDS s"
    exit 0
fi
overall=0
for step in "${steps[@]}"; do
    bash "$root/scripts/robustness.sh" "$step" || overall=1
done
echo "robustness: $([[ $overall == 0 ]] && echo passed || echo FAILED) in $SECONDS s"
exit "$overall"
