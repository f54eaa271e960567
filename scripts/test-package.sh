#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root with dpkg -x and
# runs the installed program's demo, help, version and manual page from there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/package.sh deb
deb=$(ls build/packages/shardix_*.deb | head -n 1)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
dpkg-deb -f "$deb" Depends | grep -q libntfs-3g || { echo "$deb: no libntfs-3g dependency" >&2; exit 1; }
for file in usr/bin/shardix usr/share/man/man1/shardix.1.gz usr/share/bash-completion/completions/shardix; do
  [[ -e $root/$file ]] || { echo "$deb: $file missing" >&2; exit 1; }
done
"$root/usr/bin/shardix" --version
"$root/usr/bin/shardix" fragment --help >/dev/null
bash -n "$root/usr/share/bash-completion/completions/shardix"
zcat "$root/usr/share/man/man1/shardix.1.gz" | grep -q '^\.TH SHARDIX 1'
"$root/usr/bin/shardix" demo "$root/demo" >"$root/demo.txt"
grep -q 'Result: clean' "$root/demo.txt"
echo "The installed package's demo ran clean from $deb."
