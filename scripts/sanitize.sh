#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test suite once; any finding fails the test it happens in.
# Usage: scripts/sanitize.sh [BUILD_DIR]     (build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$(pwd)
BUILD="${1:-build-asan}"
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSAL_SANITIZE=ON -DTESSAL_BUILD_BENCH=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# The suites load third-party PKCS#11 modules (SoftHSM2, p11-kit) into the
# process; their own leaks are suppressed by name, the component's never.
# The fault trap's handler must see the faults the guard tests provoke.
export ASAN_OPTIONS="detect_leaks=1:allow_user_segv_handler=1:abort_on_error=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$SRC/tests/sanitizer/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)"
