#!/usr/bin/env bash
# The soak: many consecutive two-device updates in virtual time, in one process, through the update
# sequence on the simulated pair, with faults drawn from a fixed seed (tests/Soak/UpdateSoak.cpp).
# Not part of make test. Two runs of the same cycles:
#   build       the optimised program: every cycle recovers, and resident memory stays flat
#   build-asan  AddressSanitizer with LeakSanitizer: no leak, no memory error. Resident memory is
#               not judged there: ASan keeps freed blocks in quarantine and shadow memory grows.
# Options after the script's name go to both runs: --cycles N, --seed S (see the program).
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== soak, optimised (build)"
bash scripts/build.sh build --target soak_update >/dev/null
build/tests/soak_update "$@"

echo "== soak under AddressSanitizer and LeakSanitizer (build-asan)"
bash scripts/build.sh build-asan --target soak_update >/dev/null
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:suppressions=$(pwd)/tests/Support/asan.supp} \
LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(pwd)/tests/Support/lsan.supp:print_suppressions=0} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    build-asan/tests/soak_update --no-rss-check "$@"
echo "soak: every cycle recovered, memory flat, no leak"
