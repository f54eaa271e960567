#!/bin/sh
# What the journal costs: `shardix fragment` of a 64 MiB file into 1 000
# pieces and `shardix defragment` back, with the journal and without it
# (SHARDIX_JOURNAL=off), alternating in one run on the same disk; the
# median of each as a ratio, and the journal file's largest size.
# Usage: journal_cost_bench.sh SHARDIX [ROUNDS] [FOLDER]   (default 5 rounds, a new folder under /tmp)
set -eu
shardix=${1:?usage: journal_cost_bench.sh SHARDIX [ROUNDS] [FOLDER]}
rounds=${2:-5}
dir=${3:-$(mktemp -d /tmp/shardix-journalbench.XXXXXX)}
mkdir -p "$dir"
image=$dir/volume.img
data=$dir/data.bin

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

rm -f "$image"
truncate -s 256M "$image"
mkntfs -F -q -Q -c 4096 -s 512 "$image" >/dev/null 2>&1
head -c 67108864 /dev/urandom >"$data"
ntfscp -f "$image" "$data" data.bin >/dev/null
sync

: >"$dir/on.times"; : >"$dir/off.times"; : >"$dir/offsync.times"; : >"$dir/stats"
round=0
while [ "$round" -lt "$rounds" ]; do
  round=$((round + 1))
  # Alternate the order so that a drift of the machine favours neither.
  if [ $((round % 2)) -eq 1 ]; then modes="on off"; else modes="off on"; fi
  for mode in $modes; do
    cp "$image" "$dir/run.img"
    sync
    start=$(now)
    SHARDIX_JOURNAL=$mode SHARDIX_JOURNAL_STATS=1 "$shardix" fragment "$dir/run.img/data.bin" \
      --count 1000 --method scattered --seed "$round" >/dev/null 2>>"$dir/stats"
    SHARDIX_JOURNAL=$mode SHARDIX_JOURNAL_STATS=1 "$shardix" defragment "$dir/run.img/data.bin" \
      >/dev/null 2>>"$dir/stats"
    took=$(elapsed "$start" "$(now)")
    echo "$took" >>"$dir/$mode.times"
    if [ "$mode" = off ]; then
      # The same work made durable, as the journal makes it.
      sync "$dir/run.img"
      elapsed "$start" "$(now)" >>"$dir/offsync.times"
    fi
    ntfscat "$dir/run.img" data.bin | cmp -s - "$data" || echo "  round $round ($mode): file bytes differ!"
    "$shardix" check "$dir/run.img" >/dev/null || echo "  round $round ($mode): the volume is not clean!"
  done
done

on=$(median <"$dir/on.times")
off=$(median <"$dir/off.times")
offsync=$(median <"$dir/offsync.times")
largest=$(sed -n 's/.*largest \([0-9]*\) bytes.*/\1/p' "$dir/stats" | sort -n | tail -1)
commits=$(sed -n 's/.*journal: \([0-9]*\) commits.*/\1/p' "$dir/stats" | sort -n | tail -1)
printf 'fragment 1000 + defragment, median of %d: journal %.2f s, none %.2f s (%.2f s with a final sync)\n' \
  "$rounds" "$on" "$off" "$offsync"
printf 'ratio %.2f (against the final-sync run %.2f); largest journal %s bytes; most commits in one job %s\n' \
  "$(echo "$on / $off" | bc -l)" "$(echo "$on / $offsync" | bc -l)" "$largest" "$commits"
