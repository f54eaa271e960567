#!/usr/bin/env bash
# Makes the packages: build/packages/shardix_VERSION_ARCH.deb from the native
# tree and build/packages/Shardix-VERSION-win64.zip from the Windows tree.
#   bash scripts/package.sh          both
#   bash scripts/package.sh deb      only the Debian package
#   bash scripts/package.sh zip      only the Windows archive
# Each tree is built first (scripts/build-native.sh, scripts/build-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
case $what in all | deb | zip) ;; *) echo "usage: bash scripts/package.sh [deb|zip]" >&2; exit 2 ;; esac
mkdir -p build/packages
if [[ $what != zip ]]; then
  bash scripts/build-native.sh
  (cd build/native && cpack -G DEB -B "$PWD/packages" >/dev/null)
  cp build/native/packages/shardix_*.deb build/packages/
fi
if [[ $what != deb ]]; then
  bash scripts/build-windows.sh
  (cd build/windows && cpack -G ZIP -B "$PWD/packages" >/dev/null)
  cp build/windows/packages/Shardix-*-win64.zip build/packages/
fi
ls -l build/packages
