#!/usr/bin/env bash
# Configures and builds build/sanitize: the native tree with clang,
# AddressSanitizer + UndefinedBehaviorSanitizer, and the libFuzzer targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh native sanitize
CC=clang CXX=clang++ cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSHARDIX_SANITIZE=address,undefined -DSHARDIX_BUILD_FUZZERS=ON >/dev/null
cmake --build build/sanitize
