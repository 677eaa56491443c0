#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ and runs every fuzzer found in build-fuzz/fuzz/ for
# a short fixed time, one after the other.
#
#   scripts/fuzz.sh [seconds-per-fuzzer]        default 20, or FUZZ_SECONDS
#   FUZZ_BUILD_DIR=...                          another build folder than build-fuzz
#   FUZZ_SEED=<n>                               libFuzzer's random seed (default: a new one each
#                                               run); CI fixes it, so that a run repeats itself
#
# Seeds come from fuzz/corpus/<fuzzer>/ and are never written to; what a run learns goes to
# build-fuzz/fuzz-corpus/<fuzzer>/, so the next run starts from there. A crashing input is saved
# as build-fuzz/fuzz-artifacts/<fuzzer>-crash-...; the script then names it and fails. Copied into
# fuzz/<fuzzer>/regressions/, such an input fails make test (test_fuzz_regressions) until the fault
# is fixed, and seeds every later run here as well.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-20}}
dir=${FUZZ_BUILD_DIR:-build-fuzz}

# Configured every time, so that a folder first made by scripts/build.sh also gets the address
# sanitizer in the libraries under test.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DZT_BUILD_FUZZ=ON -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF -DZT_SANITIZE=address >/dev/null
cmake --build "$dir" -j "$(nproc)"

mapfile -t fuzzers < <(find "$dir/fuzz" -maxdepth 1 -type f -perm -u+x | sort)
if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "fuzz: no fuzzers in $dir/fuzz" >&2
    exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$dir/fuzz-artifacts"
failed=()
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    corpus="$dir/fuzz-corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    [ -d "fuzz/$name/regressions" ] && seeds+=("fuzz/$name/regressions")
    echo "fuzz: $name for ${seconds}s"
    if ! "$fuzzer" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -seed="${FUZZ_SEED:-0}" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$dir/fuzz-artifacts/$name-" -print_final_stats=1 >"$dir/fuzz-artifacts/$name.log" 2>&1; then
        tail -n 40 "$dir/fuzz-artifacts/$name.log" >&2
        failed+=("$name")
        continue
    fi
    grep -E '^stat::number_of_executed_units|^Done' "$dir/fuzz-artifacts/$name.log" | sed "s/^/fuzz: $name: /" || true
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: failed: ${failed[*]} (inputs and logs in $dir/fuzz-artifacts/)" >&2
    exit 1
fi
echo "fuzz: all ${#fuzzers[@]} fuzzers ran ${seconds}s without a finding"
