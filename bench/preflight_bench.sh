#!/bin/sh
# The pre-flight's cost against the job it guards. The pre-flight is the
# consistency check's scan, run once before a job's first move; `shardix
# check` runs the same scan on its own, so its time is the pre-flight's cost.
#   preflight_bench.sh SHARDIX [FILES] [FOLDER]
# makes a 256 MiB image holding FILES files (default 100 000: a fifth of
# them one cluster long, the rest held in their records) and a 16 MiB file,
# and times the check against `fragment --count 100` of that file.
# With PREFLIGHT_HUGE=1 it also times the check on a 15 TiB sparse image
# made by mkntfs -Q, against the same job there.
set -eu
shardix=${1:?usage: preflight_bench.sh SHARDIX [FILES] [FOLDER]}
files=${2:-100000}
dir=${3:-$(mktemp -d /tmp/shardix-preflight.XXXXXX)}
mkdir -p "$dir/mnt"
now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

measure() {  # IMAGE LABEL (the job changes IMAGE)
  start=$(now)
  "$shardix" check "$1" >/dev/null
  check=$(elapsed "$start" "$(now)")
  start=$(now)
  "$shardix" fragment "$1/data.bin" --count 100 --seed 1 >/dev/null
  job=$(elapsed "$start" "$(now)")
  printf '%-28s pre-flight (check) %7.3f s; fragment job %7.3f s (pre-flight included); ratio %.2f\n' \
    "$2" "$check" "$job" "$(echo "$check / $job" | bc -l)"
}

image=$dir/many.img
rm -f "$image"
truncate -s 256M "$image"
mkntfs -F -q -Q -c 4096 "$image" >/dev/null 2>&1
ntfs-3g "$image" "$dir/mnt"
python3 - "$dir/mnt" "$files" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
block = os.urandom(4096)
for i in range(count):
    folder = os.path.join(root, "d%03d" % (i // 1000))
    if i % 1000 == 0:
        os.mkdir(folder)
    with open(os.path.join(folder, "f%d" % i), "wb") as f:
        f.write(block if i % 5 == 0 else block[:100])
PY
head -c 16777216 /dev/urandom >"$dir/mnt/data.bin"
umount "$dir/mnt"
measure "$image" "256 MiB, $files files"

if [ "${PREFLIGHT_HUGE:-0}" = 1 ]; then
  huge=$dir/huge.img
  rm -f "$huge"
  truncate -s 15T "$huge"
  mkntfs -F -q -Q "$huge" >/dev/null 2>&1
  head -c 16777216 /dev/urandom >"$dir/data.bin"
  ntfscp -f "$huge" "$dir/data.bin" data.bin >/dev/null
  measure "$huge" "15 TiB sparse, mkntfs -Q"
fi
[ -n "${3:-}" ] || rm -rf "$dir"
