#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: native
# (plain, under AddressSanitizer + UBSan and under ThreadSanitizer) and
# Windows (under Wine).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
tools/deps.sh

jobs=${CORVANE_JOBS:-2}
summary=()
passed=0
failed=0

cleanup() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    WINEPREFIX="$root/build/win/wineprefix" wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# One virtual display for every Windows test of this run.
if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:${CORVANE_XVFB_DISPLAY:-97}
    if ! xdpyinfo >/dev/null 2>&1; then
        Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    fi
fi

configure_and_build() { # tree, cmake options...
    local tree=$1
    shift
    cmake -S . -B "build/$tree" -G Ninja "$@" >/dev/null
    cmake --build "build/$tree" -j "$jobs" | grep -v '^\[' || true
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build of $tree failed" >&2; exit 1; }
}

run_tests() { # tree
    local tree=$1 log
    log=$(mktemp)
    echo "== tests: $tree"
    set +e
    ctest --test-dir "build/$tree" -j "$jobs" --output-on-failure >"$log" 2>&1
    set -e
    grep -E 'tests passed|\*\*\*|Failed|Not Run|Timeout' "$log" | grep -v 'Test #' || true
    local line total nfail
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" | tail -1)
    if [ -z "$line" ]; then
        cat "$log"
        echo "ctest of $tree did not finish" >&2
        failed=$((failed + 1))
    else
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
        nfail=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
        [ "$nfail" -gt 0 ] && sed -n '/The following tests FAILED/,$p' "$log"
        [ "$nfail" -gt 0 ] && { grep -B2 -A20 -E '\[  FAILED  \]|Failure|runtime error|ERROR: ' "$log" | head -200 || true; }
        passed=$((passed + total - nfail))
        failed=$((failed + nfail))
        summary+=("$tree: $((total - nfail)) of $total test programs passed")
    fi
    rm -f "$log"
}

# The fuzz targets of the command layer, a bounded time each under ASan and
# UBSan; a crash, an overrun or a leak fails the run.
run_fuzz() {
    local seconds=${CORVANE_FUZZ_SECONDS:-20} work name ok=0 total=0
    work=$(mktemp -d)
    echo "== fuzz (${seconds} s each)"
    for name in match number compile hex; do
        total=$((total + 1))
        mkdir -p "$work/$name"
        if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            "build/fuzz/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
            -artifact_prefix="$work/" -print_final_stats=0 \
            "$work/$name" "tests/fuzz/corpus/$name" >"$work/$name.log" 2>&1; then
            ok=$((ok + 1))
            echo "fuzz_$name: $(grep -Eo 'Done [0-9]+ runs' "$work/$name.log" | tail -1), clean"
        else
            tail -40 "$work/$name.log"
            echo "fuzz_$name FAILED" >&2
        fi
    done
    rm -rf "$work"
    passed=$((passed + ok))
    failed=$((failed + total - ok))
    summary+=("fuzz: $ok of $total fuzz targets ran clean")
}

configure_and_build native -DCMAKE_BUILD_TYPE=Debug
run_tests native
configure_and_build native-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests native-asan
configure_and_build native-tsan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_TSAN=ON
TSAN_OPTIONS=halt_on_error=1 run_tests native-tsan
configure_and_build fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON
run_fuzz
configure_and_build win -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
run_tests win

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
