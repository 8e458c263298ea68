#!/usr/bin/env bash
# Measures Corvane.exe with Wexa.dll under Wine and prints the figures:
# start-up to the device page (median), and over whole Type 2.2 downloads the
# longest main-window stall during a transfer, the CPU time while the drive
# works, and the overhead beyond the drive's transfer time with the page
# timer's wait apart.   tools/measure-download.sh [RUNS]   (default 5)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-5}
cmake --build "$root/build/win" -j2 --target download_measure host_showcase >/dev/null
bash "$root/tools/measure-startup.sh" "$((runs * 2 - 1))" 2>/dev/null | tail -1
bash "$root/tools/wine-run.sh" "$root/build/win/bin/download_measure.exe" "$runs" 2> >(grep -v ":err:" >&2)
