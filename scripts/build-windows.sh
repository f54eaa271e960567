#!/usr/bin/env bash
# Configures and builds the Windows tree in build/windows with mingw-w64:
# Shardix.exe (the window program), shardix.exe (the command line) and the
# test programs that test-windows.sh runs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
# Installs what is missing (mingw-w64, Wine, fonts) without recommends.
bash scripts/setup-deps.sh windows
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build/windows
echo "Windows tree built in $((SECONDS - start)) s."
