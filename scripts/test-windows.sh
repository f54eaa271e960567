#!/usr/bin/env bash
# Runs the Windows tree's tests under Wine in a private prefix with the null
# graphics driver (no X server needed). Build first: scripts/build-windows.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
if [[ ! -f build/windows/CTestTestfile.cmake ]]; then
  echo "test-windows.sh: build/windows is not built; run scripts/build-windows.sh first" >&2
  exit 1
fi
# shellcheck source=wine-env.sh
. scripts/wine-env.sh
shardix_wine_prefix
trap shardix_wine_stop EXIT
shardix_wine_start
ctest --test-dir build/windows --output-on-failure -j2
echo "Windows tests passed in $((SECONDS - start)) s."
