#!/usr/bin/env bash
# Builds the Release tree (build/native-release) and prints the figures of
# the benchmark programs and of corvane-image beside srec_cat in paired
# hyperfine runs on a full synthetic image, with the machine's load: medians,
# and each goal met or not. Exit status 1 when a goal is missed.
#   tools/bench.sh [--runs N]   (hyperfine runs per command, default 300)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
runs=300
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    -h | --help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown argument $1 (--help)" >&2; exit 2 ;;
    esac
done
tools/deps.sh

tree=build/native-release
cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release --no-warn-unused-cli >/dev/null
cmake --build "$tree" -j "${CORVANE_JOBS:-2}" --target firmware_benchmark command_benchmark corvane-image |
    grep -v '^\[' || true
tool=$root/$tree/cli/corvane-image

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$tool" make -o "$work/full.hex"

echo "== load before: $(uptime | sed 's/.*load average/load average/')"
for program in firmware_benchmark command_benchmark; do
    "$tree/tests/bench/$program" --benchmark_repetitions=9 --benchmark_report_aggregates_only=true \
        --benchmark_out="$work/$program.json" --benchmark_out_format=json >"$work/$program.log" 2>&1 ||
        { cat "$work/$program.log"; exit 1; }
done
cd "$work"
# Outliers from the other work on the machine are expected; the medians stand.
hyperfine -N --warmup 30 --runs "$runs" --export-json info.json \
    "$tool info full.hex" "srec_cat full.hex -intel -o /dev/null -binary" >/dev/null 2>&1
hyperfine -N --warmup 30 --runs "$runs" --export-json dump.json \
    "$tool dump full.hex -o tool.bin" "srec_cat full.hex -intel -o srec.bin -binary" >/dev/null 2>&1
cmp -s tool.bin <(head -c 65280 srec.bin; head -c 256 /dev/zero | tr '\0' '\377') ||
    echo "bench: warning: the dumps differ" >&2
echo "== load after: $(uptime | sed 's/.*load average/load average/')"

TOOL=$tool python3 - <<'EOF'
import json
import os

missed = 0

def goal(text, ok):
    global missed
    missed += not ok
    return f"  goal {text}: {'met' if ok else 'MISSED'}"

def medians(name):
    runs = json.load(open(name))["benchmarks"]
    return {b["run_name"]: b for b in runs if b.get("aggregate_name") == "median"}

print("== in process (Google Benchmark, median of 9 repetitions; wall, CPU)")
firmware = medians("firmware_benchmark.json")
for name, b in list(firmware.items()) + list(medians("command_benchmark.json").items()):
    print(f"{name:40} {b['real_time']:10.1f} {b['cpu_time']:10.1f} {b['time_unit']}")
print(goal("read + identify a full image <= 150 us", firmware["ReadAndIdentify"]["real_time"] <= 150))
print(goal("identification <= 20 us", firmware["Identify"]["real_time"] <= 20))

print("== whole programs (hyperfine, paired, median)")
for name, check in (("info.json", 10), ("dump.json", None)):
    tool, srec = json.load(open(name))["results"]
    for r in (tool, srec):
        command = r["command"].replace(os.environ["TOOL"], "corvane-image")
        print(f"{command:52} {r['median'] * 1000:8.3f} ms")
    ratio = srec["median"] / tool["median"]
    print(f"  corvane-image {ratio:.1f}x faster than srec_cat")
    if check:
        print(goal(f"info at least {check}x faster than srec_cat", ratio >= check))
raise SystemExit(1 if missed else 0)
EOF
