#!/usr/bin/env bash
# Rewrites the fault matrix in docs/RELIABILITY.md (between its fault-matrix markers) from a run of
# test_fault_matrix, which otherwise only checks that the page holds what it produces.
#
#   scripts/fault-matrix.sh [build folder]      default build
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bash scripts/build.sh "$dir" --target test_fault_matrix
XR4000_WRITE_RELIABILITY_DOC=1 "$dir/tests/test_fault_matrix" --gtest_filter='FaultMatrix.*' --gtest_brief=1
git --no-pager diff --stat -- docs/RELIABILITY.md 2>/dev/null || true
