#!/usr/bin/env bash
# Takes docs/scenario-map.png: the map of examples/scenarios/carve-6-braided.json
# as this build draws it, rendered by rsvg-convert (librsvg2-bin).
#   scripts/scenario-map-picture.sh [SHARDIX] [OUT.png]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
shardix="${1:-$here/build/native/src/cli/shardix}"
out="${2:-$here/docs/scenario-map.png}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$shardix" scenario --quiet "$here/examples/scenarios/carve-6-braided.json" "$work/braided.img" >/dev/null
rsvg-convert "$work/braided.img.map.svg" -o "$out"
echo "wrote $out"
