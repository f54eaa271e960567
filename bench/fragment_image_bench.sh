#!/bin/sh
# The whole `shardix fragment` of a 64 MiB file into 1 000 pieces on an NTFS
# image, against dd copying the same 64 MiB (with and without the final
# sync), measured in the same run on the same disk.
# Usage: fragment_image_bench.sh SHARDIX [FOLDER]   (default: a new folder under /tmp)
set -eu
shardix=${1:?usage: fragment_image_bench.sh SHARDIX [FOLDER]}
dir=${2:-$(mktemp -d /tmp/shardix-fragbench.XXXXXX)}
mkdir -p "$dir"
image=$dir/volume.img
data=$dir/data.bin

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

rm -f "$image"
truncate -s 256M "$image"
mkntfs -F -q -Q -c 4096 -s 512 "$image" >/dev/null 2>&1
head -c 67108864 /dev/urandom >"$data"
ntfscp -f "$image" "$data" data.bin >/dev/null
sync

for method in concentrated scattered random first-fit; do
  cp "$image" "$dir/run.img"
  sync
  start=$(now)
  "$shardix" fragment "$dir/run.img/data.bin" --count 1000 --method $method --seed 1 --json \
    >"$dir/$method.json"
  fragment=$(elapsed "$start" "$(now)")
  ntfscat "$dir/run.img" data.bin | cmp -s - "$data" || echo "  $method: file bytes differ!"
  pieces=$(grep -o '"fragment_count":[0-9]*' "$dir/$method.json" | tail -1 | cut -d: -f2)

  start=$(now)
  dd if="$data" of="$dir/copy.bin" bs=1M 2>/dev/null
  dd_plain=$(elapsed "$start" "$(now)")
  start=$(now)
  dd if="$data" of="$dir/copy.bin" bs=1M conv=fdatasync 2>/dev/null
  dd_sync=$(elapsed "$start" "$(now)")
  printf '%-13s fragment %6.2f s (%s fragments after); dd %5.2f s, with sync %5.2f s; ratio %5.1f / %5.1f\n' \
    "$method" "$fragment" "$pieces" "$dd_plain" "$dd_sync" \
    "$(echo "$fragment / $dd_plain" | bc -l)" "$(echo "$fragment / $dd_sync" | bc -l)"
done
[ -n "${2:-}" ] || rm -rf "$dir"
