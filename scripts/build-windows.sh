#!/usr/bin/env bash
# Configures and builds the Windows tree in build/windows with mingw-w64:
# Shardix.exe (the window program), shardix.exe (the command line) and the
# test programs that test-windows.sh runs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
# Installs what is missing (mingw-w64, Wine, fonts) without recommends.
bash scripts/setup-deps.sh windows
# NTFS images: a static libntfs-3g cross-built from Debian's source, once.
ntfs3g="$PWD/build/ntfs3g-mingw"
bash scripts/build-ntfs3g-windows.sh "$ntfs3g"
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DSHARDIX_NTFS3G_MINGW_PREFIX="$ntfs3g" >/dev/null
cmake --build build/windows
echo "Windows tree built in $((SECONDS - start)) s."
