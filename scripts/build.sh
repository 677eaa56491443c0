#!/usr/bin/env bash
# Configures (once) and builds one build folder. The folder's name picks its kind:
#   build        optimised (-O2) with debug information and assert() on, gcc; make install takes
#                the program from here
#   build-asan   as build, with AddressSanitizer + UndefinedBehaviorSanitizer, clang
#   build-tsan   as build, with ThreadSanitizer, clang
#   build-bench  Release: optimised, assert() off (NDEBUG), no tests
#   build-fuzz   libFuzzer targets, assert() on, clang
# RelWithDebInfo keeps assert() because the top-level CMakeLists.txt takes NDEBUG out of its flags.
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

# ccache, where installed, lets several work trees of the project share compiled objects: paths
# below the tree are hashed relative to it.
if command -v ccache >/dev/null 2>&1; then
    args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
fi

if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" "${args[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" "$@"
