#!/bin/sh
# Scenario images: the time to build every example recipe, and for the large
# aged volume (16 GiB, 100 000 files) the build against writing the same
# files with ntfscp one file at a time on a fresh image of the same size,
# measured in the same run on the same disk. ntfscp mounts the volume once
# per file, so it is timed on a sample of the files (SAMPLE, default 2000)
# and its whole time is extrapolated from the sample's bytes per second and
# seconds per file.
# Usage: scenario_bench.sh SHARDIX [FOLDER] [SAMPLE]   (default: a new folder under /tmp)
set -eu
shardix=${1:?usage: scenario_bench.sh SHARDIX [FOLDER] [SAMPLE]}
dir=${2:-$(mktemp -d /tmp/shardix-scenariobench.XXXXXX)}
sample=${3:-2000}
examples=$(cd "$(dirname "$0")/../examples/scenarios" && pwd)
mkdir -p "$dir"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

for recipe in "$examples"/*.json; do
  name=$(basename "$recipe" .json)
  start=$(now)
  "$shardix" scenario --force --quiet "$recipe" "$dir/$name.img" >"$dir/$name.log"
  took=$(elapsed "$start" "$(now)")
  printf '%-24s %8.2f s  %s\n' "$name" "$took" "$(head -1 "$dir/$name.log" | cut -c1-90)"
  [ "$name" = aged-16g ] && aged_time=$took
done

# The aged volume's files as ntfscp writes them: every file the ageing made
# (deleted ones too, since the build wrote them), one ntfscp call each.
manifest=$dir/aged-16g.img.manifest.json
total_files=$(grep -c '"path":"/aged/' "$manifest")
total_bytes=$(grep '"path":"/aged/' "$manifest" | sed 's/.*"size":\([0-9]*\).*/\1/' | paste -sd+ | bc)
copy=$dir/ntfscp.img
rm -f "$copy"
truncate -s 16G "$copy"
mkntfs -F -q -Q -T -c 4096 -s 512 "$copy" >/dev/null 2>&1
grep '"path":"/aged/' "$manifest" | sed 's/.*"size":\([0-9]*\).*/\1/' | head -n "$sample" >"$dir/sizes"
i=0
copy_time=0
sample_bytes=0
while read -r size; do
  i=$((i + 1))
  head -c "$size" /dev/urandom >"$dir/one.bin"
  start=$(now)
  ntfscp -f "$copy" "$dir/one.bin" "f$i.bin" >/dev/null
  copy_time=$(echo "$copy_time + $(elapsed "$start" "$(now)")" | bc)
  sample_bytes=$((sample_bytes + size))
done <"$dir/sizes"
per_file=$(echo "scale=6; $copy_time / $i" | bc)
extrapolated=$(echo "scale=2; $per_file * $total_files" | bc)
printf '\naged-16g: scenario build %.1f s for %s files (%s bytes written by the ageing)\n' \
  "$aged_time" "$total_files" "$total_bytes"
printf 'ntfscp: %d files (%s bytes) in %.1f s, %.4f s per file; all %s files: about %.0f s\n' \
  "$i" "$sample_bytes" "$copy_time" "$per_file" "$total_files" "$extrapolated"
printf 'ratio ntfscp / scenario: %.1f\n' "$(echo "scale=4; $extrapolated / $aged_time" | bc)"
