#!/usr/bin/env bash
# Installs what is missing, builds the trees and runs every test, stage by
# stage: the format, native (plain, under AddressSanitizer + UBSan and under
# ThreadSanitizer), fuzzing, Windows (under Wine), clang-tidy, shellcheck, and
# the stack bench (a Linux kernel's SCSI stack in a virtual machine).
# Prints the time of each stage; the last line is "N passed, N failed".
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# A stage is a function stage_<name> and its name in one of these lists:
# the default run, or run only when named in --only.
stages=(format shellcheck tidy native asan tsan fuzz win stack)
extra_stages=()

usage() {
    cat <<EOF
usage: bash tools/test.sh [--only STAGE[,STAGE]] [--skip STAGE[,STAGE]]

Stages, in order: ${stages[*]}${extra_stages[*]:+ (and on request: ${extra_stages[*]})}.
  --only LIST   run just these stages
  --skip LIST   run every default stage but these
CORVANE_JOBS (default 2) sets build and test parallelism; CORVANE_FUZZ_SECONDS
the time of each fuzz target after its corpus (default 2; 60 or more to grow a
corpus).
EOF
}

known_stage() {
    local s
    for s in "${stages[@]}" "${extra_stages[@]}"; do [ "$s" = "$1" ] && return 0; done
    return 1
}

in_list() { # name, comma-separated names
    [[ ",$2," == *",$1,"* ]]
}

only=
skip=
while [ $# -gt 0 ]; do
    case $1 in
    --help | -h) usage; exit 0 ;;
    --only | --skip) [ $# -ge 2 ] || { usage >&2; exit 2; }; declare "${1#--}=$2"; shift 2 ;;
    --only=* | --skip=*) name=${1%%=*}; declare "${name#--}=${1#*=}"; shift ;;
    *) usage >&2; exit 2 ;;
    esac
done
for s in ${only//,/ } ${skip//,/ }; do
    known_stage "$s" || { echo "test.sh: no stage '$s' (stages: ${stages[*]}${extra_stages[*]:+ ${extra_stages[*]}})" >&2; exit 2; }
done

selected=()
for s in "${stages[@]}" "${extra_stages[@]}"; do
    if [ -n "$only" ]; then
        in_list "$s" "$only" || continue
    else
        in_list "$s" "$(IFS=,; echo "${extra_stages[*]}")" && continue
    fi
    in_list "$s" "$skip" && continue
    selected+=("$s")
done

tools/deps.sh

jobs=${CORVANE_JOBS:-2}
summary=()
passed=0
failed=0
skipped=0

record() { # passed, failed, summary line
    passed=$((passed + $1))
    failed=$((failed + $2))
    summary+=("$3")
}

cleanup() {
    if [ -d "$root/build/win/wineprefix" ]; then
        WINEPREFIX="$root/build/win/wineprefix" wineserver -k 2>/dev/null || true
    fi
    if [ -n "${corvane_xvfb_pid:-}" ]; then kill "$corvane_xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A tree is configured when its options change (or it has none yet); the
# build itself reconfigures when a CMakeLists changes. ccache, when there,
# compiles every tree.
configure_and_build() { # tree, cmake options...
    local tree=$1 dir=build/$1 stamp wanted status
    shift
    if command -v ccache >/dev/null; then
        set -- "$@" -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
        # Paths inside the tree, and the folder a compile runs in, left out
        # of the hash: another clone of the same sources finds its objects.
        export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
    fi
    stamp=$dir/.corvane-options
    wanted=$(printf '%s\n' "$@")
    if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$wanted" ]; then
        cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli "$@" >/dev/null
        echo "$wanted" >"$stamp"
    fi
    set +e
    cmake --build "$dir" -j "$jobs" | grep -v -e '^\[' -e '^ninja: no work to do'
    status=${PIPESTATUS[0]}
    set -e
    [ "$status" -eq 0 ] || { echo "build of $tree failed" >&2; return 1; }
}

# Counts come from CTest's JUnit file, not from its text; a failing program
# is shown with its failing cases and the end of its output.
run_tests() { # tree, ctest options...
    local tree=$1 dir status p f
    shift
    dir="$root/build/$tree"
    rm -rf "$dir/test-reports" "$dir/junit.xml"
    set +e
    ctest --test-dir "$dir" -j "$jobs" --output-junit "$dir/junit.xml" "$@" >"$dir/ctest.log" 2>&1
    status=$?
    set -e
    python3 tools/test-report.py "$dir/junit.xml" "$dir/test-reports" >"$dir/report.txt"
    head -n -1 "$dir/report.txt"
    read -r p f < <(tail -1 "$dir/report.txt")
    if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
        tail -20 "$dir/ctest.log"
        f=1
    fi
    record "$p" "$f" "$tree: $p of $((p + f)) test programs passed"
}

# A tree that does not build counts as one failure and its tests are not run.
build_and_test() { # tree, cmake options...
    local tree=$1
    if configure_and_build "$@"; then
        run_tests "$tree"
    else
        record 0 1 "$tree: the build failed"
    fi
}

# Every C++ source in the committed format.
stage_format() {
    local bad
    bad=$(git ls-files '*.cpp' '*.h' | xargs clang-format-14 --dry-run 2>&1 | grep -Eo '^[^:]+\.(cpp|h)' | sort -u || true)
    if [ -z "$bad" ]; then
        record 1 0 "format: clean"
    else
        mapfile -t bad_files <<<"$bad"
        printf 'not formatted: %s\n' "${bad_files[@]}"
        record 0 1 "format: $(wc -w <<<"$bad") files not formatted (clang-format-14 -i)"
    fi
}

# Every committed shell script: *.sh and any other file with a bash or sh #! line.
stage_shellcheck() {
    local scripts
    mapfile -t scripts < <({ git ls-files '*.sh'; git grep -lIE '^#!.*\b(ba)?sh$' -- ':!*.sh'; } | sort -u)
    if shellcheck -x "${scripts[@]}"; then
        record 1 0 "shellcheck: ${#scripts[@]} scripts clean"
    else
        record 0 1 "shellcheck: findings in the scripts above"
    fi
}

# clang-tidy on the portable code (.clang-tidy): a tree that compiles it with
# the checks, so a second run looks again only at what changed.
stage_tidy() {
    # A change of the checks is no change ninja sees: look at everything again.
    if ! cmp -s .clang-tidy build/tidy/.clang-tidy.used && [ -f build/tidy/build.ninja ]; then
        cmake --build build/tidy --target clean >/dev/null
    fi
    if configure_and_build tidy -DCMAKE_BUILD_TYPE=Debug -DCORVANE_TIDY=ON; then
        cp .clang-tidy build/tidy/.clang-tidy.used
        record 1 0 "tidy: clean"
    else
        record 0 1 "tidy: findings above (.clang-tidy)"
    fi
}

# The plain native tree, then the Debian package from its own Release tree.
stage_native() {
    build_and_test native -DCMAKE_BUILD_TYPE=Debug
    if bash tools/package.sh | tee build/package.log; then
        record 1 0 "package: $(basename "$(tail -1 build/package.log)"), lintian clean"
    else
        record 0 1 "package: made no package lintian passes (tools/package.sh, above)"
    fi
}

stage_asan() {
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        build_and_test native-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON
}

stage_tsan() {
    TSAN_OPTIONS=halt_on_error=1 build_and_test native-tsan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_TSAN=ON
}

# Every fuzz_<name> target of the fuzz tree, CORVANE_JOBS of them at a time:
# every input of its committed corpus (tests/fuzz/corpus/<name>) again, then
# new inputs for CORVANE_FUZZ_SECONDS. Each run starts from the corpus alone,
# and its edge coverage after 2 s is within a few edges of what 8 s reach;
# longer runs are for growing the corpus.
fuzz_one() { # target, seconds, work folder
    local target=$1 seconds=$2 work=$3 name corpus=()
    name=${target##*/fuzz_}
    mkdir -p "$work/$name"
    [ -d "tests/fuzz/corpus/$name" ] && corpus=("tests/fuzz/corpus/$name")
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$target" -max_total_time="$seconds" -timeout=10 \
        -artifact_prefix="$work/$name-" -print_final_stats=0 \
        "$work/$name" "${corpus[@]}" \
        >"$work/$name.log" 2>&1; then
        echo "fuzz_$name: $(grep -Eo 'Done [0-9]+ runs' "$work/$name.log" | tail -1), clean"
    else
        tail -40 "$work/$name.log"
        echo "fuzz_$name FAILED" >&2
        return 1
    fi
}

stage_fuzz() {
    local seconds=${CORVANE_FUZZ_SECONDS:-2} work target ok=0 total=0 running=0
    configure_and_build fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON || { record 0 1 "fuzz: the build failed"; return; }
    work=$(mktemp -d)
    echo "(${seconds} s each, $jobs at a time)"
    for target in build/fuzz/tests/fuzz/fuzz_*; do
        { [ -f "$target" ] && [ -x "$target" ]; } || continue
        total=$((total + 1))
        # The next target starts as soon as any running one ends.
        if [ "$running" -ge "$jobs" ]; then
            wait -n && ok=$((ok + 1))
            running=$((running - 1))
        fi
        fuzz_one "$target" "$seconds" "$work" &
        running=$((running + 1))
    done
    for ((; running > 0; running--)); do wait -n && ok=$((ok + 1)); done
    rm -rf "$work"
    [ "$total" -gt 0 ] || { echo "no fuzz targets built" >&2; total=1; }
    record "$ok" $((total - ok)) "fuzz: $ok of $total fuzz targets ran clean"
}

# Wine runs our programs in 32-bit processes. Where the kernel runs none
# itself, deps.sh has QEMU's user-mode emulator run them, and every Wine
# process then takes about a minute of processor time to start: too slow for
# the Wine tests (their waits, and the whole run). There the tree is still
# built and its checks that need no Wine run; the others are counted as
# skipped here, and the stack stage runs some of them in its guest, whose
# kernel runs 32-bit programs (stackbench/guest/wine-tests.sh).
# shellcheck source=tools/native32.sh
source tools/native32.sh

stage_win() {
    # One virtual display for every Windows test of this run, ours alone
    # unless CORVANE_XVFB_DISPLAY names one.
    if [ -z "${DISPLAY:-}" ]; then
        # shellcheck source=tools/xvfb.sh
        source tools/xvfb.sh
        corvane_start_xvfb
    fi
    local options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake) wine
    if runs_32bit_natively; then
        build_and_test win "${options[@]}"
        return
    fi
    configure_and_build win "${options[@]}" || { record 0 1 "win: the build failed"; return; }
    wine=$(ctest --test-dir build/win -N -LE nowine | sed -n 's/^Total Tests: //p')
    echo "this kernel runs no 32-bit program: $wine test programs that need Wine are not run"
    run_tests win -L nowine
    skipped=$((skipped + wine))
    summary[-1]="${summary[-1]}; $wine that need Wine skipped (no 32-bit programs on this kernel; the stack stage runs corvane.exe's, the host window's and the whole-program tests under Wine in its guest)"
}

# The programs against a real kernel's SCSI stack in a virtual machine: its
# scenarios count as tests.
stage_stack() {
    local log p f
    log=$(mktemp)
    # A failing bench still gets its line in the summary: its count decides.
    bash tools/stack-bench.sh 2>&1 | tee "$log" | grep -v '^\[' || true
    read -r p _ f _ < <(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1 || echo "0 passed, 1 failed")
    rm -f "$log"
    record "$p" "$f" "stack: $p of $((p + f)) scenarios passed"
}

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

start=$(now)
for s in "${selected[@]}"; do
    echo "== $s"
    begun=$(now)
    before=${#summary[@]}
    "stage_$s"
    took=$(seconds_since "$begun")
    echo "-- $s: $took s"
    # The stage's own summary lines get its time.
    for ((i = before; i < ${#summary[@]}; i++)); do summary[i]="${summary[i]} ($took s)"; done
done

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "total: $(seconds_since "$start") s"
if [ "$skipped" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
else
    echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
