#!/usr/bin/env bash
# The sanitizer suite: the whole native test suite built with AddressSanitizer
# and UndefinedBehaviorSanitizer (leak detection on), then a short fuzz run of
# every libFuzzer target and the damaged-image regression seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-sanitize.sh
# Two tests ask for 2^59 bytes on purpose and expect a refusal, not an abort.
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j2
FUZZ_SECONDS=${FUZZ_SECONDS:-10} bash scripts/fuzz.sh smoke
