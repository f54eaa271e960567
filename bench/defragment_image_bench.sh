#!/bin/sh
# The whole `shardix defragment` of a 64 MiB file in 2 000 fragments on an
# NTFS image, against dd copying the same 64 MiB (with and without the final
# sync), measured in the same run on the same disk. The fragments are made
# with `shardix fragment` first (not timed).
# Usage: defragment_image_bench.sh SHARDIX [FOLDER]   (default: a new folder under /tmp)
set -eu
shardix=${1:?usage: defragment_image_bench.sh SHARDIX [FOLDER]}
dir=${2:-$(mktemp -d /tmp/shardix-defragbench.XXXXXX)}
mkdir -p "$dir"
image=$dir/volume.img
data=$dir/data.bin

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }
fragments() { grep -o '"fragment_count":[0-9]*' "$1" | tail -1 | cut -d: -f2; }

rm -f "$image"
truncate -s "${SHARDIX_BENCH_IMAGE_SIZE:-2G}" "$image"
mkntfs -F -q -Q -c 4096 -s 512 "$image" >/dev/null 2>&1
head -c 67108864 /dev/urandom >"$data"
ntfscp -f "$image" "$data" data.bin >/dev/null
"$shardix" fragment "$image/data.bin" --count 2000 --method concentrated --seed 1 --json \
  >"$dir/fragment.json" || true
sync

start=$(now)
"$shardix" defragment "$image/data.bin" --json >"$dir/defragment.json"
defragment=$(elapsed "$start" "$(now)")
ntfscat "$image" data.bin | cmp -s - "$data" || echo "file bytes differ!"

start=$(now)
dd if="$data" of="$dir/copy.bin" bs=1M 2>/dev/null
dd_plain=$(elapsed "$start" "$(now)")
start=$(now)
dd if="$data" of="$dir/copy.bin" bs=1M conv=fdatasync 2>/dev/null
dd_sync=$(elapsed "$start" "$(now)")
printf 'defragment %6.2f s (%s fragments before, %s after); dd %5.2f s, with sync %5.2f s; ratio %5.1f / %5.1f\n' \
  "$defragment" "$(fragments "$dir/fragment.json")" "$(fragments "$dir/defragment.json")" \
  "$dd_plain" "$dd_sync" \
  "$(echo "$defragment / $dd_plain" | bc -l)" "$(echo "$defragment / $dd_sync" | bc -l)"
[ -n "${2:-}" ] || rm -rf "$dir"
