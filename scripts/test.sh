#!/usr/bin/env bash
# Builds one build folder and runs every test in it, or one labelled group of tests alone.
#
#   scripts/test.sh [build-folder] [label]     e.g. scripts/test.sh build-tsan threads
#
# With a label only the programs of that group are built (target tests-<label>, see
# tests/CMakeLists.txt) and only their cases run (ctest -L).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
label=${2:-}
ctest_args=()
if [ -n "$label" ]; then
    bash scripts/build.sh "$dir" --target "tests-$label"
    ctest_args=(-L "^$label\$")
else
    bash scripts/build.sh "$dir"
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:suppressions=$(pwd)/tests/Support/asan.supp}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(pwd)/tests/Support/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/tests/Support/tsan.supp}
# The window's tests need a display: a private Xvfb for the run (scripts/with-xvfb.sh).
bash scripts/with-xvfb.sh ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "${ctest_args[@]}"
