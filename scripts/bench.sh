#!/usr/bin/env bash
# Builds the benchmarks optimised and runs every one of them, also after one misses its target;
# the exit status says whether all targets were met.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh build-bench
missed=()
for b in build-bench/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.2 || missed+=("$(basename "$b")")
done
echo "== query mode as a whole process"
bash scripts/bench-query-mode.sh build-bench/bin/xr4000-nova-updater || missed+=("query mode")
echo "== query mode on an emulated USB bus, next to dfu-util -l"
bash scripts/bench-query-usb.sh build-bench/bin/xr4000-nova-updater || missed+=("query mode on USB")
echo "== the window on a private Xvfb, next to a bare SDL + Cairo program"
bash scripts/with-xvfb.sh bash scripts/bench-window.sh build-bench/bin/xr4000-nova-updater \
    build-bench/bench/window_bare_sdl_cairo || missed+=("window")
if [ ${#missed[@]} -ne 0 ]; then
    echo "bench: targets missed by: ${missed[*]}" >&2
    exit 1
fi
echo "bench: every target met"
