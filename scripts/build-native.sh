#!/usr/bin/env bash
# Configures and builds the native tree in build/native.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh native
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native
