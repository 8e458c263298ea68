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
    WINEPREFIX="$root/build/win/wineprefix" wineserver -k 2>/dev/null || true
    [ -n "${corvane_xvfb_pid:-}" ] && kill "$corvane_xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# One virtual display for every Windows test of this run, ours alone unless
# CORVANE_XVFB_DISPLAY names one.
if [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=tools/xvfb.sh
    source tools/xvfb.sh
    corvane_start_xvfb
fi

# Every C++ source in the committed format.
check_format() {
    local bad
    echo "== format (clang-format 14)"
    bad=$(git ls-files '*.cpp' '*.h' | xargs clang-format-14 --dry-run 2>&1 | grep -Eo '^[^:]+\.(cpp|h)' | sort -u || true)
    if [ -z "$bad" ]; then
        passed=$((passed + 1))
        summary+=("format: clean")
    else
        printf 'not formatted: %s\n' $bad
        failed=$((failed + 1))
        summary+=("format: $(wc -w <<<"$bad") files not formatted (clang-format-14 -i)")
    fi
}

configure_and_build() { # tree, cmake options...
    local tree=$1
    shift
    cmake -S . -B "build/$tree" -G Ninja --no-warn-unused-cli "$@" >/dev/null
    cmake --build "build/$tree" -j "$jobs" | grep -v '^\[' || true
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build of $tree failed" >&2; exit 1; }
}

# Counts come from CTest's JUnit file, not from its text; a failing program
# is shown with its failing cases and the end of its output.
run_tests() { # tree
    local tree=$1 dir status p f
    dir="$root/build/$tree"
    rm -rf "$dir/test-reports" "$dir/junit.xml"
    echo "== tests: $tree"
    set +e
    ctest --test-dir "$dir" -j "$jobs" --output-junit "$dir/junit.xml" >"$dir/ctest.log" 2>&1
    status=$?
    set -e
    python3 tools/test-report.py "$dir/junit.xml" "$dir/test-reports" >"$dir/report.txt"
    head -n -1 "$dir/report.txt"
    read -r p f < <(tail -1 "$dir/report.txt")
    if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
        tail -20 "$dir/ctest.log"
        f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
    summary+=("$tree: $p of $((p + f)) test programs passed")
}

# Every fuzz_<name> target of the fuzz tree, its corpus in tests/fuzz/corpus/<name>.
run_fuzz() {
    local seconds=${CORVANE_FUZZ_SECONDS:-20} work target name ok=0 total=0
    work=$(mktemp -d)
    echo "== fuzz (${seconds} s each)"
    for target in build/fuzz/tests/fuzz/fuzz_*; do
        [ -f "$target" ] && [ -x "$target" ] || continue
        name=${target##*/fuzz_}
        total=$((total + 1))
        mkdir -p "$work/$name"
        if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            "$target" -max_total_time="$seconds" -timeout=10 \
            -artifact_prefix="$work/" -print_final_stats=0 \
            "$work/$name" $([ -d "tests/fuzz/corpus/$name" ] && echo "tests/fuzz/corpus/$name") \
            >"$work/$name.log" 2>&1; then
            ok=$((ok + 1))
            echo "fuzz_$name: $(grep -Eo 'Done [0-9]+ runs' "$work/$name.log" | tail -1), clean"
        else
            tail -40 "$work/$name.log"
            echo "fuzz_$name FAILED" >&2
        fi
    done
    rm -rf "$work"
    [ "$total" -gt 0 ] || { echo "no fuzz targets built" >&2; total=1; }
    passed=$((passed + ok))
    failed=$((failed + total - ok))
    summary+=("fuzz: $ok of $total fuzz targets ran clean")
}

check_format
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
