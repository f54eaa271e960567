#!/usr/bin/env bash
# The window's long lists under Wine: the fragment list at 100 000 rows and
# the Volume Info allocation list at 1 000 000 runs (bench/window_list_bench_win.cpp).
# Needs the Windows tree (scripts/build-windows.sh); builds the driver in it.
# Usage: bench/window_list_bench.sh [FRAGMENTS [RUNS]]
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ! -f build/windows/CMakeCache.txt ]]; then
  echo "window_list_bench.sh: build/windows is not configured; run scripts/build-windows.sh first" >&2
  exit 1
fi
# The driver only; the tree's other targets stay as they were.
cmake -S . -B build/windows -DSHARDIX_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/windows --target window_list_bench
cmake -S . -B build/windows -DSHARDIX_BUILD_BENCHMARKS=OFF >/dev/null
# shellcheck source=../scripts/wine-env.sh
. scripts/wine-env.sh
shardix_wine_prefix
trap shardix_wine_stop EXIT
shardix_wine_start
wine build/windows/bench/window_list_bench.exe "$@"
