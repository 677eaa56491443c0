#!/usr/bin/env bash
# The window's cost, on the display the environment names (scripts/bench.sh runs this through
# scripts/with-xvfb.sh, a private Xvfb):
#   1. start to first frame: from just before the process starts, on simulated devices, to the
#      moment its first frame was shown on the window. Each program writes that frame as PNG
#      (XR4000_NOVA_UPDATER_FRAME) and sets the file's modification time to the moment it showed
#      the frame, so that the encoding, which costs a detailed frame more than a flat one, is not
#      counted. Next to a bare SDL + Cairo program (bench/window/BareWindow.cpp) that shows and
#      paints one 400 x 450 window the same way, interleaved, medians of each; target: ratio at
#      most 1.5. What either does after the frame (its shutdown) is not counted;
#   2. resident memory after the first frame: the peak resident set of that run (it ends right
#      after the frame); target: at most 40 MB;
#   3. idle CPU: the process CPU time (user + system) of a shown window left alone for 10 s;
#      target: under 20 ms.
#
#   scripts/bench-window.sh [program] [bare]   defaults build-bench/bin/xr4000-nova-updater and
#                                               build-bench/bench/window_bare_sdl_cairo
#   WINDOW_BENCH_RUNS=n                          runs of each for 1 and 2 (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build-bench/bin/xr4000-nova-updater}
bare=${2:-build-bench/bench/window_bare_sdl_cairo}
runs=${WINDOW_BENCH_RUNS:-20}
ratio_target=1.5
rss_target_kb=$((40 * 1024))
idle_target_ms=20
idle_seconds=10

if [ -z "${DISPLAY:-}" ]; then
    echo "bench-window: no display (run it through scripts/with-xvfb.sh)" >&2
    exit 1
fi
sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/run"
export HOME=$sandbox XDG_CONFIG_HOME=$sandbox/config XDG_DATA_HOME=$sandbox/data XDG_STATE_HOME=$sandbox/state \
    XDG_RUNTIME_DIR=$sandbox/run
devices=-SIMULATE_DEVICES=00.30,00.49

# Microseconds from the start of one run to its first frame (the frame file's modification time).
time_one() {
    rm -f "$sandbox/frame.png"
    local start=$EPOCHREALTIME
    XR4000_NOVA_UPDATER_FRAME=$sandbox/frame.png "$@" >/dev/null 2>&1 || true
    if [ ! -s "$sandbox/frame.png" ]; then
        echo "bench-window: $1 wrote no frame" >&2
        exit 1
    fi
    local written
    written=$(stat -c %.6Y "$sandbox/frame.png")
    echo $(( (${written/./} - ${start/./}) ))
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -a ours theirs
for ((i = 0; i < runs; i++)); do
    theirs+=("$(time_one "$bare")")
    ours+=("$(time_one "$program" "$devices")")
done
m_ours=$(median "${ours[@]}")
m_theirs=$(median "${theirs[@]}")
ratio=$(awk -v a="$m_ours" -v b="$m_theirs" 'BEGIN { printf "%.2f", a / b }')
printf '%-52s %8.1f ms\n' "start to first frame, updater (median of $runs)" "$(awk -v a="$m_ours" 'BEGIN { print a / 1000 }')"
printf '%-52s %8.1f ms\n' "start to first frame, bare SDL + Cairo" "$(awk -v a="$m_theirs" 'BEGIN { print a / 1000 }')"
echo "RATIO window_first_frame=$ratio target<=$ratio_target"

rss_kb=$(XR4000_NOVA_UPDATER_FRAME=$sandbox/frame.png /usr/bin/time -f %M "$program" "$devices" 2>&1 >/dev/null | tail -n1)
bare_rss_kb=$(XR4000_NOVA_UPDATER_FRAME=$sandbox/frame.png /usr/bin/time -f %M "$bare" 2>&1 >/dev/null | tail -n1)
printf '%-52s %8d kB (bare: %d kB)\n' "resident memory at the first frame (peak)" "$rss_kb" "$bare_rss_kb"
echo "MEMORY window_first_frame_rss_kb=$rss_kb target<=$rss_target_kb"

# Idle: a window nobody touches, from a second after it showed.
"$program" "$devices" -DEBUG_CONSOLE 2>"$sandbox/idle.log" &
pid=$!
for _ in $(seq 1 200); do
    grep -q "Window: shown" "$sandbox/idle.log" 2>/dev/null && break
    sleep 0.05
done
if ! grep -q "Window: shown" "$sandbox/idle.log"; then
    echo "bench-window: the window did not show" >&2
    kill "$pid" 2>/dev/null || true
    exit 1
fi
sleep 1
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(cpu_ticks)
sleep "$idle_seconds"
after=$(cpu_ticks)
kill -TERM "$pid"
wait "$pid" || true
tick_ms=$(awk -v hz="$(getconf CLK_TCK)" 'BEGIN { print 1000 / hz }')
idle_ms=$(awk -v a="$after" -v b="$before" -v t="$tick_ms" 'BEGIN { print (a - b) * t }')
printf '%-52s %8s ms\n' "process CPU time of an idle window over ${idle_seconds} s" "$idle_ms"
echo "IDLE window_idle_cpu_ms=$idle_ms target<$idle_target_ms"

failed=0
awk -v r="$ratio" -v t="$ratio_target" 'BEGIN { exit !(r > t) }' && failed=1
[ "$rss_kb" -gt "$rss_target_kb" ] && failed=1
awk -v c="$idle_ms" -v t="$idle_target_ms" 'BEGIN { exit !(c >= t) }' && failed=1
exit "$failed"
