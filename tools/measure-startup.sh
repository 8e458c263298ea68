#!/usr/bin/env bash
# Measures Corvane.exe's start-up under Wine: from launching it (prefix made,
# Wine already running) to the device page showing its rows, over several runs.
#   tools/measure-startup.sh [RUNS]   (default 9; needs build/win built)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-9}
cmake --build "$root/build/win" -j2 --target host_showcase >/dev/null
exec bash "$root/tools/wine-run.sh" "$root/build/win/bin/host_showcase.exe" --measure "$runs"
