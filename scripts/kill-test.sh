#!/usr/bin/env bash
# Kills fragment and defragment jobs with SIGKILL at random moments and
# checks that nothing is lost: after every kill `shardix check` plays back
# the journal and must find the volume clean, and every file's bytes
# (read with ntfscat, a tool we did not write) must hash as before.
#
#   scripts/kill-test.sh [--kills N] [--seed S] [--shardix PROGRAM] [--dir DIR]
#                        [--max-seconds T]
#
# Defaults: 30 kills (what CI runs), a seed from the clock, the native
# build's program, a fresh folder under the temporary folder (removed at
# the end unless given), no time limit. It fails when fewer kills than asked
# were made in the time. Run by hand with --kills 200 or more.
set -euo pipefail
cd "$(dirname "$0")/.."

kills=30
seed=$(( $(date +%s) % 100000 ))
shardix=build/native/src/cli/shardix
dir=""
max_seconds=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --kills) kills=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --shardix) shardix=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --max-seconds) max_seconds=$2; shift 2 ;;
    *) echo "usage: $0 [--kills N] [--seed S] [--shardix PROGRAM] [--dir DIR] [--max-seconds T]" >&2; exit 2 ;;
  esac
done
[[ -x "$shardix" ]] || { echo "kill-test: no program at $shardix (build first)" >&2; exit 2; }
shardix=$(realpath "$shardix")
if [[ -z "$dir" ]]; then
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
fi
mkdir -p "$dir"
RANDOM=$seed
echo "Kill test: $kills kills, seed $seed, in $dir"
declare -A kills_by_size

# One image per cluster size; the kills take turns among them.
cluster_sizes=(4096 512 65536)
files=(/big.bin /medium.bin /small-1.bin /small-2.bin)
sizes=(40 6 1 2)  # MiB
declare -A want
for i in "${!files[@]}"; do
  head -c "$(( sizes[i] << 20 ))" /dev/urandom > "$dir/content-$i"
  want[${files[i]}]=$(sha256sum < "$dir/content-$i" | cut -c1-64)
done
for size in "${cluster_sizes[@]}"; do
  kills_by_size[$size]=0
  img="$dir/kill-$size.img"
  truncate -s 0 "$img" && truncate -s 192M "$img"
  mkntfs -q -F -f -c "$size" "$img" >/dev/null 2>&1
  for i in "${!files[@]}"; do ntfscp -q "$img" "$dir/content-$i" "${files[i]}" >/dev/null; done
  # What the volume looks like to the check before anything moves.
  "$shardix" check "$img" > /dev/null || { echo "kill-test: the fresh $img is not clean" >&2; exit 1; }
done
rm -f "$dir"/content-*

methods=(concentrated scattered random first-fit)
declare -A phases=([opening]=0 [moving]=0 [finishing]=0)
done_kills=0 finished=0 recovered=0 changed=0 inconsistent=0 attempts=0
# The kill lands uniformly within about the longest job seen lately (ms), so
# that it hits opening, moving and writing back alike.
longest=400
while (( done_kills < kills )); do
  (( ++attempts ))
  if (( attempts > kills * 10 )); then
    echo "kill-test: jobs kept finishing before the kill; stopping" >&2; break
  fi
  if (( max_seconds > 0 && SECONDS > max_seconds )); then
    echo "kill-test: $max_seconds s are up; stopping" >&2; break
  fi
  size=${cluster_sizes[attempts % ${#cluster_sizes[@]}]}
  img="$dir/kill-$size.img"
  analysis=$("$shardix" analyze "$img/big.bin" --json)
  fragments=$(sed -n 's/.*"fragment_count":\([0-9]*\).*/\1/p' <<< "$analysis")
  clusters=$(sed -n 's/.*"cluster_count":\([0-9]*\).*/\1/p' <<< "$analysis")
  if (( fragments > 1 && RANDOM % 2 == 0 )); then
    job=(defragment "$img/big.bin")
  else
    count=$(( 1000 + RANDOM % 3000 ))
    (( count > clusters - 1 )) && count=$(( clusters - 1 - RANDOM % 100 ))
    job=(fragment "$img/big.bin" --count "$count" --method "${methods[RANDOM % 4]}" --seed $RANDOM)
  fi
  started=$(date +%s%N)
  "$shardix" "${job[@]}" > "$dir/job.out" 2>&1 &
  pid=$!
  delay=$(( (RANDOM * 32768 + RANDOM) % longest ))
  sleep "$(( delay / 1000 )).$(printf '%03d' $(( delay % 1000 )))"
  if [[ -z "$(ps -o stat= -p "$pid" | grep -v Z)" ]]; then
    # Already done: learn how long such jobs take.
    wait "$pid" 2>/dev/null || true
    (( ++finished ))
    took=$(( ($(date +%s%N) - started) / 1000000 ))
    # Longer jobs raise the bound; shorter ones let it sink slowly, so
    # one long job does not make most later kills come too late.
    if (( took > longest )); then longest=$took; else longest=$(( (longest * 9 + took) / 10 )); fi
    continue
  fi
  if kill -9 "$pid" 2>/dev/null; then
    wait "$pid" 2>/dev/null || true
    (( ++done_kills ))
    (( ++kills_by_size[$size] ))
    if ! grep -q "has started" "$dir/job.out"; then phase=opening
    elif grep -qE "successfully|^Error|^shardix: [^w]" "$dir/job.out"; then phase=finishing
    else phase=moving
    fi
    (( ++phases[$phase] ))
  else
    wait "$pid" 2>/dev/null || true
    (( ++finished ))
    phase="finished before the kill"
  fi

  if "$shardix" check "$img" > "$dir/check.out" 2> "$dir/check.err"; then :; else
    (( ++inconsistent ))
    echo "kill $done_kills (${job[*]##*/}, $size-byte clusters, $phase): the volume is not clean after recovery:" >&2
    cat "$dir/check.out" "$dir/check.err" >&2
  fi
  grep -q "Recovered an interrupted" "$dir/check.err" && (( ++recovered ))
  for f in "${files[@]}"; do
    got=$(ntfscat "$img" "$f" | sha256sum | cut -c1-64)
    if [[ "$got" != "${want[$f]}" ]]; then
      (( ++changed ))
      echo "kill $done_kills (${job[0]}, $size-byte clusters, $phase): $f changed" >&2
    fi
  done
  if (( inconsistent + changed > 0 )); then break; fi
  if [[ "$phase" != finished* ]] && (( done_kills % 25 == 0 )); then
    echo "  $done_kills kills, $recovered rollbacks, all clean and intact so far (${SECONDS} s)"
  fi
done

echo "Kills: $done_kills (while opening ${phases[opening]}, while moving ${phases[moving]}," \
     "after the job ${phases[finishing]}); jobs that finished first: $finished"
echo "Kills by cluster size: 512 B ${kills_by_size[512]:-0}, 4 KiB ${kills_by_size[4096]:-0}, 64 KiB ${kills_by_size[65536]:-0}"
echo "Interrupted moves rolled back: $recovered"
echo "Files changed: $changed; inconsistent volumes after recovery: $inconsistent"
if (( done_kills < kills || changed > 0 || inconsistent > 0 )); then
  echo "Kill test: FAILED"
  exit 1
fi
echo "Kill test: passed"
