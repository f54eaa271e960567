#!/usr/bin/env bash
# Builds both trees and runs every test: the native suite, then the Windows
# programs' suite under Wine. Fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

bash scripts/setup-deps.sh native windows
bash scripts/build-native.sh
ctest --test-dir build/native --output-on-failure -j2
# The Debian package, unpacked into a scratch root, runs its demo.
bash scripts/test-package.sh

bash scripts/test-sanitize.sh

bash scripts/build-windows.sh
bash scripts/test-windows.sh
bash scripts/test-package.sh zip

echo "All tests passed in $((SECONDS - start)) s."
