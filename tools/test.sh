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
        [ "$nfail" -gt 0 ] && grep -B2 -A20 -E '\[  FAILED  \]|Failure' "$log" | head -200
        passed=$((passed + total - nfail))
        failed=$((failed + nfail))
        summary+=("$tree: $((total - nfail)) of $total test programs passed")
    fi
    rm -f "$log"
}

configure_and_build native -DCMAKE_BUILD_TYPE=Debug
run_tests native
configure_and_build native-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests native-asan
configure_and_build native-tsan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_TSAN=ON
TSAN_OPTIONS=halt_on_error=1 run_tests native-tsan
configure_and_build win -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
run_tests win

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
