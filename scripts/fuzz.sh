#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on), makes their seed corpora, replays the saved
# regression inputs and then runs each harness for SECONDS.
# Usage: scripts/fuzz.sh [SECONDS] [BUILD_DIR]     (600 s each, build-fuzz)
# Findings are written to BUILD_DIR/fuzz-findings; the corpus grown by a run
# stays in BUILD_DIR/fuzz-corpus for the next one. The exit status is 1 when
# any harness found something.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-600}"
BUILD="${2:-build-fuzz}"
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSAL_FUZZ=ON -DTESSAL_BUILD_TESTS=OFF \
    -DTESSAL_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target fuzzers
[ -d "$BUILD/fuzz-seeds/corpus" ] || bash tests/fuzz/make-seeds.sh "$BUILD"

# The longest input and the longest time one input may take, by harness.
# Documents are larger than the other inputs; a verification with time-stamps
# and several references does a lot of work for one input.
max_len() { case "$1" in verify|c14n) echo 32768 ;; records|service_answer|time_stamp) echo 8192 ;; *) echo 4096 ;; esac; }
TIMEOUT=30

export TESSAL_FUZZ_CERTS="$BUILD/fuzz-seeds/certs"
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:allocator_may_return_null=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:print_stacktrace=1:halt_on_error=1"
FINDINGS="$BUILD/fuzz-findings"
mkdir -p "$FINDINGS"
status=0
summary=()
for program in "$BUILD"/fuzz/*_fuzz; do
    name=$(basename "$program" _fuzz)
    seeds="$BUILD/fuzz-seeds/corpus/$name"
    corpus="$BUILD/fuzz-corpus/$name"
    mkdir -p "$corpus" "$seeds"
    log="$FINDINGS/$name.log"
    # Inputs that once made a harness fail must keep passing.
    regressions=(tests/fuzz/regressions/"$name"/*)
    if [ -e "${regressions[0]}" ]; then
        if ! "$program" -timeout="$TIMEOUT" "${regressions[@]}" >"$FINDINGS/$name.regressions.log" 2>&1; then
            echo "FAIL: $name regressions (see $FINDINGS/$name.regressions.log)"
            tail -n 30 "$FINDINGS/$name.regressions.log"
            status=1
        fi
    fi
    if "$program" -max_total_time="$SECONDS_EACH" -max_len="$(max_len "$name")" -timeout="$TIMEOUT" \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$FINDINGS/$name-" \
        "$corpus" "$seeds" >"$log" 2>&1; then
        result=ok
    else
        result=FOUND
        status=1
        tail -n 40 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    line=$(printf '%-16s %-5s %10s executions in %s s' "$name" "$result" "${runs:-?}" "$SECONDS_EACH")
    echo "$line"
    summary+=("$line")
done
echo "--- fuzzing summary ---"
printf '%s\n' "${summary[@]}"
exit $status
