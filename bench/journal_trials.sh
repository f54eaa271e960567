#!/usr/bin/env bash
# Interrupted jobs whose image then changes name or contents before the next
# open: a fragment job is killed (SIGKILL) at a random moment, then
#   stale    the image is replaced by a copy taken before the job, its
#            journal left beside it;
#   foreign  ntfs-3g mounts the image and writes a new file;
#   renamed  the image is opened through a hard link;
#   moved    the image, whose journal is in SHARDIX_JOURNAL_DIR, is moved.
# Then `shardix check` opens it. A trial passes when no file lost a byte
# (The Sleuth Kit's icat and ntfscat against hashes taken before) and the
# volume is either recovered clean or, where the journal did not fit, left
# byte for byte as it was with the journal kept aside.
#
#   bench/journal_trials.sh [SHARDIX] [TRIALS] [FOLDER]   (default: the native build, 20, a new folder)
set -uo pipefail
shardix=$(realpath "${1:-build/native/src/cli/shardix}")
trials=${2:-20}
dir=${3:-$(mktemp -d /tmp/shardix-journal-trials.XXXXXX)}
mkdir -p "$dir"
cd "$dir" || exit 2

files=(big.bin small.bin)
truncate -s 0 fresh.img && truncate -s 128M fresh.img
mkntfs -q -F -Q fresh.img >/dev/null 2>&1
head -c $((24 << 20)) /dev/urandom >big.bin
head -c $((1 << 20)) /dev/urandom >small.bin
for f in "${files[@]}"; do ntfscp -q fresh.img "$f" "$f" >/dev/null; done
declare -A want
for f in "${files[@]}"; do want[$f]=$(sha256sum <"$f" | cut -c1-64); done
head -c $((2 << 20)) /dev/urandom >other.bin
want_other=$(sha256sum <other.bin | cut -c1-64)

sum() { sha256sum <"$1" | cut -c1-64; }

# Every file's bytes as both tools read them: "" when all match.
judge_files() {
  local img=$1 f inode problems=""
  for f in "${files[@]}" "$@"; do
    [[ $f == "$img" ]] && continue
    local expect=${want[$f]:-$want_other}
    inode=$(ifind -n "/$f" "$img" 2>/dev/null)
    [[ -n $inode && $(icat "$img" "$inode" | sha256sum | cut -c1-64) == "$expect" ]] || problems+=" icat:$f"
    [[ $(ntfscat -f "$img" "$f" 2>/dev/null | sha256sum | cut -c1-64) == "$expect" ]] || problems+=" ntfscat:$f"
  done
  echo "$problems"
}

# Starts a job and kills it at a random moment; false when it ended first.
interrupted_job() {
  local img=$1
  "$shardix" fragment "$img/big.bin" --count 3000 --method scattered --seed $RANDOM >/dev/null 2>&1 &
  local pid=$!
  sleep "0.$((RANDOM % 9 + 1))$((RANDOM % 10))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [[ $? -eq 137 ]]
}

declare -A passed kept
for scenario in stale foreign renamed moved; do
  passed[$scenario]=0; kept[$scenario]=0
  trial=0
  while ((trial < trials)); do
    rm -rf work && mkdir work
    cp fresh.img work/disk.img
    journals=""
    [[ $scenario == moved ]] && journals=$dir/work/journals
    if ! SHARDIX_JOURNAL_DIR=$journals interrupted_job work/disk.img; then continue; fi
    trial=$((trial + 1))
    img=work/disk.img
    extra=()
    case $scenario in
      stale) cp fresh.img work/disk.img ;;
      foreign)
        mkdir work/mnt
        ntfs-3g work/disk.img work/mnt && cp other.bin work/mnt/other.bin && sync && umount work/mnt
        extra=(other.bin) ;;
      renamed) ln work/disk.img work/link.img; img=work/link.img ;;
      moved) mv work/disk.img work/elsewhere.img; img=work/elsewhere.img ;;
    esac
    before=$(sum "$img")
    SHARDIX_JOURNAL_DIR=$journals "$shardix" check "$img" >work/check.txt 2>&1
    status=$?
    problems=$(judge_files "$img" "${extra[@]}")
    if ((status == 0)); then
      grep -q "Result: clean" work/check.txt || problems+=" not-clean"
      [[ $scenario == stale && $(sum "$img") != "$before" ]] && problems+=" stale-bytes-written"
    else
      grep -q "was not played back" work/check.txt || problems+=" check-failed($status)"
      [[ $(sum "$img") == "$before" ]] || problems+=" changed-though-refused"
      compgen -G "work/*.kept" >/dev/null || compgen -G "work/journals/*.kept" >/dev/null ||
        problems+=" journal-not-kept"
      kept[$scenario]=$((kept[$scenario] + 1))
    fi
    if [[ -z $problems ]]; then passed[$scenario]=$((passed[$scenario] + 1))
    else echo "  $scenario trial $trial:$problems"; sed 's/^/    /' work/check.txt | head -5; fi
  done
  echo "$scenario: ${passed[$scenario]} of $trials trials lost nothing (${kept[$scenario]} refused with the journal kept aside)"
done
