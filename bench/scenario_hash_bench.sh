#!/bin/sh
# Scenario images at hash speed: the build and the --verify of a large recipe
# (default the 16 GiB aged example) beside sha256sum on the finished image,
# in the same run on the same disk. The image is read once by each, so the
# ratios say how close both come to the cost of hashing the image at all.
# Usage: scenario_hash_bench.sh SHARDIX [RECIPE] [FOLDER]   (default: a new folder under /tmp)
set -eu
shardix=${1:?usage: scenario_hash_bench.sh SHARDIX [RECIPE] [FOLDER]}
recipe=${2:-$(cd "$(dirname "$0")/../examples/scenarios" && pwd)/aged-16g.json}
dir=${3:-$(mktemp -d /tmp/shardix-hashbench.XXXXXX)}
mkdir -p "$dir"
image=$dir/$(basename "$recipe" .json).img

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

start=$(now)
"$shardix" scenario --force --quiet "$recipe" "$image" >"$dir/build.log"
build=$(elapsed "$start" "$(now)")
start=$(now)
"$shardix" scenario --verify "$image.manifest.json" "$image" >"$dir/verify.log"
verify=$(elapsed "$start" "$(now)")
start=$(now)
sha256sum "$image" >"$dir/sha256sum.log"
plain=$(elapsed "$start" "$(now)")
grep -q "$(cut -c1-64 "$dir/sha256sum.log")" "$image.manifest.json" || { echo "the manifest's sha256 is not sha256sum's" >&2; exit 1; }

bytes=$(stat -c %s "$image")
on_disk=$(du -k "$image" | cut -f1)
printf '%s: %s bytes (%s KiB on disk)\n' "$(basename "$image")" "$bytes" "$on_disk"
printf 'build      %8.1f s\nverify     %8.1f s\nsha256sum  %8.1f s  (%.0f MB/s)\n' \
  "$build" "$verify" "$plain" "$(echo "scale=2; $bytes / $plain / 1000000" | bc)"
printf 'ratio build / sha256sum:  %.2f\nratio verify / sha256sum: %.2f\n' \
  "$(echo "scale=4; $build / $plain" | bc)" "$(echo "scale=4; $verify / $plain" | bc)"
