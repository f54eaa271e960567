#!/usr/bin/env bash
# File carvers scored on the carving examples: each example (and each recipe
# given) is built, foremost, scalpel and photorec carve JPEG and PNG from it,
# and `shardix score` grades what each wrote. One table: carving level by
# tool, the pictures of the image whole / partial / missed, and the false
# positives (recovered files that are no part of any file of the image). The
# carvers' own reports (audit.txt, report.xml) are set aside, not scored.
# Usage: carvers.sh SHARDIX [RECIPE...]   (work folder: $CARVERS_DIR, default a new one under /tmp)
# The carvers: bash scripts/setup-deps.sh bench
set -euo pipefail
shardix=$(realpath "${1:?usage: carvers.sh SHARDIX [RECIPE...]}")
shift
examples=$(cd "$(dirname "$0")/../examples/scenarios" && pwd)
dir=${CARVERS_DIR:-$(mktemp -d /tmp/shardix-carvers.XXXXXX)}
mkdir -p "$dir"
dir=$(realpath "$dir")
for tool in foremost scalpel photorec python3; do
  command -v "$tool" >/dev/null || { echo "carvers.sh: $tool is missing (bash scripts/setup-deps.sh bench)" >&2; exit 1; }
done

# Header and footer of each format; 20 MB at most.
cat >"$dir/scalpel.conf" <<'EOF'
jpg y 20000000 \xff\xd8\xff \xff\xd9
png y 20000000 \x89PNG\x0d\x0a\x1a\x0a IEND\xae\x42\x60\x82
EOF

version() { "$@" 2>&1 | grep -o -m1 '[Vv]ersion:\? [0-9][0-9.]*' | grep -o '[0-9][0-9.]*' || true; }
foremost_version=$(foremost -V 2>&1 | head -1 | grep -o '[0-9][0-9.]*' || true)
scalpel_version=$(version scalpel -V)
photorec_version=$(version photorec /version)

# The pictures' verdicts and the false positives of one score, as "W / P / M / FP".
cell() {
  python3 - "$1" <<'EOF'
import json, sys
score = json.load(open(sys.argv[1]))
pictures = [f for f in score["files"] if f["path"].lower().endswith((".jpg", ".png"))]
count = lambda verdict: sum(1 for f in pictures if f["verdict"] == verdict)
print(f'{count("whole")} / {count("partial")} / {count("missed")} / {score["summary"]["false_positives"]}')
EOF
}

carve() {  # TOOL IMAGE OUT
  local tool=$1 image=$2 out=$3
  rm -rf "$out" && mkdir -p "$out/logs"
  case $tool in
    foremost) foremost -Q -t jpg,png -i "$image" -o "$out/r" >"$out/logs/run.txt" 2>&1 ;;
    scalpel) scalpel -c "$dir/scalpel.conf" -o "$out/r" "$image" >"$out/logs/run.txt" 2>&1 ;;
    photorec) (cd "$out/logs" && photorec /log /d "$out/r" /cmd "$image" \
                 partition_none,fileopt,everything,disable,jpg,enable,png,enable,search >run.txt 2>&1 </dev/null) ;;
  esac
  mkdir -p "$out/r"
  # photorec writes into r.1, r.2, ... beside the folder it is given.
  for extra in "$out"/r.*; do [ -d "$extra" ] && mv "$extra" "$out/r/"; done
  find "$out/r" \( -name audit.txt -o -name report.xml \) -type f -exec mv {} "$out/logs/" \;
}

printf '%-24s  %-16s  %-16s  %s\n' "Carving level" "foremost" "scalpel" "photorec"
for recipe in "$examples"/carve-*.json "$@"; do
  name=$(basename "$recipe" .json)
  image=$dir/$name.img
  "$shardix" scenario --force --quiet "$recipe" "$image" >"$dir/$name.log"
  row=$(printf '%-24s' "$name")
  for tool in foremost scalpel photorec; do
    carve "$tool" "$image" "$dir/$name-$tool"
    "$shardix" score --json "$image.manifest.json" "$dir/$name-$tool/r" >"$dir/$name-$tool/score.json"
    row+=$(printf '  %-16s' "$(cell "$dir/$name-$tool/score.json")")
  done
  echo "${row%"${row##*[! ]}"}"
done
echo "Pictures whole / partial / missed / false positives: foremost $foremost_version, scalpel $scalpel_version, photorec $photorec_version"
echo "Scores and what each carver wrote: $dir"
