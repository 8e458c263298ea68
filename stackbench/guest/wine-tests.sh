#!/bin/bash
# The Windows tree's Wine tests (CTest label wine), run in the guest as the
# test command runs them on a kernel with 32-bit support: one virtual
# display, the tree's Wine prefix, CTest through the Wine runner. Each test
# program is a line in RESULTS_DIR/results.txt, "ok NAME (N s)" or
# "FAIL NAME (N s): its first failing case"; CTest's output, its JUnit file
# and the programs' reports go to RESULTS_DIR/wine-tests/.
#   wine-tests.sh RESULTS_DIR [CTEST_OPTIONS...]    # alone: then "end"
# scenarios.sh sources it and calls wine_tests.

# The programs' Wine sessions (tools/wine-run.sh) by name, from CTest.
wine_sessions() { # tree
    ctest --test-dir "$1" --show-only=json-v1 | python3 -c 'import json, sys
for test in json.load(sys.stdin)["tests"]:
    for p in test.get("properties", []):
        if p["name"] == "ENVIRONMENT":
            for v in p["value"]:
                if v.startswith("CORVANE_WINE_SESSION="):
                    print(v.split("=", 1)[1])'
}

# The tree's prefix, and each session's copy of it, as a layer of its own
# over the prefix the tree brought (or the one the guest made, where it
# brought none): a copy costs the guest's memory only what its session
# writes (the whole prefix is about 600 MB), and the prefix under them stays
# as it was while they run. The sessions first: their lower layer is that
# prefix, not the tree's layer over it. Prints the layers' mount points.
wine_tests_prefixes() { # tree, prefix
    local tree=$1 prefix=$2 layers=/run/wine-tests name dir
    for name in $(wine_sessions "$tree") ''; do
        dir=$tree/wineprefix${name:+-$name}
        mkdir -p "$layers/${name:-tree}/upper" "$layers/${name:-tree}/work" "$dir"
        mount -t overlay -o "lowerdir=$prefix,upperdir=$layers/${name:-tree}/upper,workdir=$layers/${name:-tree}/work" \
            overlay "$dir" || return 1
        echo "$dir"
    done
}

# The programs the bench's scenario runs: corvane.exe on the command line's
# table of cases, a console program, about a minute under software
# emulation; the host's window in-process, and the whole program (host,
# device page, plug-in page, bank) in its sessions and downloads, five to six
# minutes side by side. The rest, the plug-in page's own cases and the image
# tools' long tables among them, runs on demand with the whole set (about
# half an hour).
# shellcheck disable=SC2034 # used by scenarios.sh
wine_tests_scenario='^(win_corvane_exe_tests|win_host_tests|e2e_host_tests|e2e_download_tests)$'

wine_tests() { # results folder, ctest options...
    local out=$1 root tree keep status prefix
    shift
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    tree=$root/build/win
    keep=$out/wine-tests
    mkdir -p "$keep"
    [ -f "$tree/CTestTestfile.cmake" ] || { echo "FAIL wine-tests (0 s): no Windows tree at $tree" >>"$out/results.txt"; return 1; }
    # The tree's programs and libraries into the guest's writable layer
    # (an overlay copies a file up when its times are set): mapped from
    # the shared folder, a program's pages can read wrong.
    find "$tree" -path "$tree/wineprefix*" -prune -o -type f \( -iname '*.exe' -o -iname '*.dll' \) \
        -exec touch -c -r {} {} \;
    prefix=$tree/wineprefix
    [ -f "$prefix/.corvane-ready-2" ] || prefix=$root/build/stack/wineprefix
    [ -f "$prefix/.corvane-ready-2" ] || { echo "FAIL wine-tests (0 s): no Wine prefix" >>"$out/results.txt"; return 1; }
    wine_tests_prefixes "$tree" "$prefix" >"$keep/layers.txt" ||
        { echo "FAIL wine-tests (0 s): the prefixes could not be laid out" >>"$out/results.txt"; return 1; }
    (
        # shellcheck source=tools/xvfb.sh
        source "$root/tools/xvfb.sh"
        corvane_start_xvfb || exit 1
        # A crash ends its program, reported, instead of waiting in Wine's
        # debugger until the test's time-out.
        export WINEDLLOVERRIDES="mscoree=;mshtml=;wnaspi32=n;winedbg.exe=d"
        ctest --test-dir "$tree" -LE nowine -j "${CORVANE_JOBS:-2}" --timeout 1200 \
            --output-junit "$keep/junit.xml" "$@" >"$keep/ctest.log" 2>&1
        status=$?
        WINEPREFIX=$tree/wineprefix wineserver -k 2>/dev/null
        kill "$corvane_xvfb_pid" 2>/dev/null
        exit "$status"
    )
    status=$?
    # The sessions' servers end with their programs; the layers go.
    tac "$keep/layers.txt" | while read -r dir; do umount "$dir"; done
    cp -r "$tree/test-reports" "$keep/" 2>/dev/null
    python3 "$root/tools/test-report.py" "$keep/junit.xml" "$keep/test-reports" >"$keep/report.txt"
    python3 "$root/tools/test-report.py" --lines "$keep/junit.xml" "$keep/test-reports" >>"$out/results.txt"
    return "$status"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -uo pipefail
    : >"$1/results.txt"
    wine_tests "$@"
    echo end >>"$1/results.txt"
fi
