#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
#   scripts/setup-deps.sh native|windows|screenshot|sanitize|ntfs3g-cross|bench ...
# Runs as root (or through sudo when it is there). Downloads nothing but
# Debian packages.
set -euo pipefail

packages_for() {
  case "$1" in
    # Scenario images: recipes read with nlohmann-json, pictures encoded with
    # libjpeg-turbo and libpng; the tests check them with djpeg, pngcheck,
    # foremost, python3-jsonschema and sgdisk (gdisk), and render the layout
    # map with rsvg-convert (librsvg2-bin); `score` fingerprints clusters with
    # libxxhash; strace shows the build flushes before it renames. The
    # package test needs dpkg-dev (dependencies) and lintian.
    native) echo "cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev ntfs-3g ntfs-3g-dev libssl-dev sleuthkit gdisk nlohmann-json3-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev libxxhash-dev libjpeg-turbo-progs pngcheck foremost python3 python3-jsonschema librsvg2-bin strace dpkg-dev lintian" ;;
    windows) echo "cmake ninja-build googletest g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 wine64 wine fonts-wine ntfs-3g nlohmann-json3-dev" ;;
    screenshot) echo "xvfb xauth imagemagick" ;;
    # clang with its sanitizer and libFuzzer runtimes (build-sanitize.sh).
    sanitize) echo "clang clang-14 libclang-rt-14-dev python3" ;;
    # libntfs-3g cross-built from Debian's source (build-ntfs3g-windows.sh).
    ntfs3g-cross) echo "dpkg-dev autoconf automake libtool pkg-config make patch gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64" ;;
    # The carvers bench/carvers.sh scores (photorec comes with testdisk).
    bench) echo "foremost scalpel testdisk" ;;
    *) echo "setup-deps.sh: unknown group '$1' (native, windows, screenshot, sanitize, ntfs3g-cross, bench)" >&2; exit 2 ;;
  esac
}

wanted=()
for group in "$@"; do
  for package in $(packages_for "$group"); do wanted+=("$package"); done
done

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup-deps.sh: run as root to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
