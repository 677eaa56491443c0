#!/usr/bin/env bash
# Builds the benchmarks optimised and runs each of them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh build-bench
for b in build-bench/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.2
done
echo "== query mode as a whole process"
bash scripts/bench-query-mode.sh build-bench/bin/xr4000-nova-updater
