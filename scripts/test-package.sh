#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, unpacks it into a
# scratch root with dpkg -x and runs the installed program's demo, help,
# version, manual page and bash completion from there.
#   bash scripts/test-package.sh          the .deb
#   bash scripts/test-package.sh zip      the Windows archive's contents (after build-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "test-package.sh: $*" >&2; exit 1; }

if [[ ${1:-} == zip ]]; then
  (cd build/windows && cpack -G ZIP -B "$PWD/packages" >/dev/null)
  zip=$(ls build/windows/packages/Shardix-*-win64.zip | head -n 1)
  listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
  for file in Shardix.exe cli/shardix.exe README.txt LICENSE.txt help/; do
    grep -q "/$file" <<<"$listing" || fail "$zip: $file missing"
  done
  echo "The Windows archive $zip holds both programs, README.txt and LICENSE.txt."
  exit 0
fi

bash scripts/package.sh deb
deb=$(ls build/packages/shardix_*.deb | head -n 1)
# Errors and warnings fail; the notes lintian prints as information do not.
lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings in $deb"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libntfs-3g <<<"$depends" || fail "$deb: no libntfs-3g dependency"
[[ $(grep -o 'libntfs-3g[0-9]*' <<<"$depends" | wc -l) -eq 1 ]] || fail "$deb names libntfs-3g more than once: $depends"
dpkg-deb -f "$deb" Recommends | grep -q bash-completion || fail "$deb does not recommend bash-completion"
doc=usr/share/doc/shardix
for file in usr/bin/shardix usr/share/man/man1/shardix.1.gz usr/share/bash-completion/completions/shardix \
            $doc/copyright $doc/changelog.gz $doc/README.md $doc/docs/scenarios.md $doc/examples/scenarios; do
  [[ -e $root/$file ]] || fail "$deb: $file missing"
done
"$root/usr/bin/shardix" --version
"$root/usr/bin/shardix" fragment --help >/dev/null
version=$("$root/usr/bin/shardix" --version | grep -o '[0-9][0-9.]*' | head -n 1)
man=$(zcat "$root/usr/share/man/man1/shardix.1.gz")
grep -q '^\.TH SHARDIX 1 .*Shardix '"$version" <<<"$man" || fail "the manual page's footer lacks the version $version"
for section in ENVIRONMENT FILES 'EXIT STATUS' SIGNALS EXAMPLES; do
  grep -q "^\.SH $section" <<<"$man" || fail "the manual page has no $section section"
done
"$root/usr/bin/shardix" demo "$root/demo" >"$root/demo.txt"
grep -q 'Result: clean' "$root/demo.txt"

# Completion goes on into the image as into a folder.
completion="$root/usr/share/bash-completion/completions/shardix"
bash -n "$completion"
complete_word() {
  bash -c 'compopt() { :; }; source "$1"; COMP_WORDS=(shardix "$2" "$3"); COMP_CWORD=2; _shardix
           printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$1" "$2"
}
image="$root/demo/demo.img"
[[ $(complete_word analyze "${image%g}") == "$image/" ]] || fail "completion stops at the image"
[[ $(complete_word fragment "$image/dem") == "$image/demo.bin" ]] || fail "completion does not reach files inside the image"
echo "The installed package's demo ran clean from $deb."
