#!/usr/bin/env bash
# Builds the command line and runs its demo: shardix demo [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-native.sh >/dev/null
exec build/native/src/cli/shardix demo "$@"
