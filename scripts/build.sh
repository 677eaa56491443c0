#!/usr/bin/env bash
# Configures (once) and builds one build folder. The folder's name picks its kind:
#   build        release build with assertions, gcc
#   build-asan   AddressSanitizer + UndefinedBehaviorSanitizer, clang
#   build-tsan   ThreadSanitizer, clang
#   build-bench  optimised, no tests
#   build-fuzz   libFuzzer targets, clang
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true

args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$dir" in
    build-asan) args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZT_SANITIZE=address -DZT_BUILD_BENCH=OFF) ;;
    build-tsan) args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZT_SANITIZE=thread -DZT_BUILD_BENCH=OFF) ;;
    build-bench) args=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF) ;;
    build-fuzz) args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZT_BUILD_FUZZ=ON -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCH=OFF) ;;
esac

if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" "${args[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" "$@"
