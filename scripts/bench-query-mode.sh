#!/usr/bin/env bash
# How fast query mode answers, as an installer sees it: the whole process of
# "-RETURN_UPDATE_MODE_STATUS" on simulated devices (none found, and both found), next to
# /bin/true measured in the same run. Prints the median of each and the difference in ms, and
# fails when a difference reaches the target.
#
#   scripts/bench-query-mode.sh [program]      default build-bench/bin/xr4000-nova-updater
#   QUERY_BENCH_RUNS=n                          runs of each (default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build-bench/bin/xr4000-nova-updater}
runs=${QUERY_BENCH_RUNS:-200}
target_ms=20

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/run"
export HOME=$sandbox XDG_CONFIG_HOME=$sandbox/config XDG_DATA_HOME=$sandbox/data XDG_RUNTIME_DIR=$sandbox/run

# Microseconds of one run of the command, output dropped, exit status ignored.
time_one() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    local end=$EPOCHREALTIME
    echo $(( (${end/./} - ${start/./}) ))
}

declare -a baseline none found
for ((i = 0; i < runs; i++)); do
    # Interleaved, so that whatever else the machine does weighs on all three alike.
    baseline+=("$(time_one /bin/true)")
    none+=("$(time_one "$program" -RETURN_UPDATE_MODE_STATUS -SIMULATE_DEVICES=-,-)")
    found+=("$(time_one "$program" -RETURN_UPDATE_MODE_STATUS -SIMULATE_DEVICES=00.30,00.49)")
done

median_us() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
base=$(median_us "${baseline[@]}")
m_none=$(median_us "${none[@]}")
m_found=$(median_us "${found[@]}")

# Sanity: the runs must answer what they are meant to answer.
set +e
"$program" -RETURN_UPDATE_MODE_STATUS -SIMULATE_DEVICES=-,-; status_none=$?
"$program" -RETURN_UPDATE_MODE_STATUS -SIMULATE_DEVICES=00.30,00.49; status_found=$?
set -e

failed=0
printf '%-44s %10s %10s %12s\n' "query mode, $runs runs each (median)" "process" "/bin/true" "difference"
report() {
    local name=$1 us=$2 status=$3 expected=$4
    local diff_ms
    diff_ms=$(awk -v a="$us" -v b="$base" 'BEGIN { printf "%.2f", (a - b) / 1000 }')
    printf '%-44s %8.2f ms %7.2f ms %9s ms\n' "$name (exit $status)" \
        "$(awk -v a="$us" 'BEGIN { print a / 1000 }')" "$(awk -v b="$base" 'BEGIN { print b / 1000 }')" "$diff_ms"
    echo "DIFFERENCE query_mode_${name// /_}_ms=$diff_ms target<$target_ms"
    if [ "$status" -ne "$expected" ] || awk -v d="$diff_ms" -v t="$target_ms" 'BEGIN { exit !(d >= t) }'; then
        failed=1
    fi
}
report "no device found" "$m_none" "$status_none" 1
report "device found" "$m_found" "$status_found" 5
if [ "$failed" -ne 0 ]; then
    echo "bench-query-mode: a difference reached ${target_ms} ms or a status was wrong" >&2
    exit 1
fi
