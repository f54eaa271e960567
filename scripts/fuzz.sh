#!/usr/bin/env bash
# Fuzzing with libFuzzer (clang) and the damaged-image driver.
#   scripts/fuzz.sh smoke           each target for FUZZ_SECONDS (default 15) from the
#                                   corpus in fuzz/corpus, then the regression images
#   scripts/fuzz.sh long [SECONDS]  each target for SECONDS (default 14400: 4 hours)
#                                   in turn, new inputs merged into fuzz/corpus; then
#                                   FUZZ_IMAGES (default 10000) damaged images
# Builds build/sanitize (clang, AddressSanitizer + UndefinedBehaviorSanitizer,
# libFuzzer targets) first. A crash leaves its input in build/sanitize/fuzz-findings.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-smoke}
bash scripts/build-sanitize.sh
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
targets=(extent_scan_fuzz volume_analysis_fuzz arguments_fuzz)
findings=build/sanitize/fuzz-findings
mkdir -p "$findings"

case "$mode" in
  smoke) seconds=${FUZZ_SECONDS:-15} ;;
  long) seconds=${2:-14400} ;;
  *) echo "usage: scripts/fuzz.sh smoke | long [SECONDS]" >&2; exit 2 ;;
esac

for target in "${targets[@]}"; do
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  echo "== $target for $seconds s"
  # New inputs go to a scratch folder; the repository's corpus only seeds.
  status=0
  build/sanitize/fuzz/$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/$target-" -print_final_stats=1 \
    "$work" "fuzz/corpus/$target" >"$findings/$target.log" 2>&1 || status=$?
  grep -E "^(Done|stat::number_of_executed_units)" "$findings/$target.log" || true
  if [[ $status -ne 0 ]]; then
    tail -n 40 "$findings/$target.log" >&2
    echo "$target: failed, input in $findings" >&2
    exit 1
  fi
  if [[ $mode == long ]]; then
    build/sanitize/fuzz/$target -merge=1 "fuzz/corpus/$target" "$work" >/dev/null 2>&1
  fi
  rm -rf "$work"
done

echo "== damaged images: the regression seeds"
python3 fuzz/run-damaged-images.py --build build/sanitize --seeds fuzz/regressions.txt
if [[ $mode == long ]]; then
  echo "== ${FUZZ_IMAGES:-10000} damaged images"
  python3 fuzz/run-damaged-images.py --build build/sanitize --images "${FUZZ_IMAGES:-10000}" \
    --seed "${FUZZ_SEED:-$RANDOM}"
fi
