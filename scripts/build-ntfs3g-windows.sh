#!/usr/bin/env bash
# Builds a static libntfs-3g for the Windows tree from Debian's own source
# package, into build/ntfs3g-mingw (include/ and lib/). Skips the work when
# that library is already built from the same source and the same shims.
#
#   scripts/build-ntfs3g-windows.sh [PREFIX]
#
# Needs a deb-src line for bookworm main; adds one under
# /etc/apt/sources.list.d/ when there is none. Debian's version from
# bookworm's main archive is used; NTFS3G_SOURCE_VERSION picks another one
# (for example "1:2022.10.3-1+deb12u3").
#
# The pieces that make the library build with mingw-w64 are in
# scripts/ntfs3g-mingw/: shim.h (POSIX types, constants and stubs, forced into
# every compile), stub headers pwd.h, grp.h and syslog.h, and a patch for the
# library's Windows device file. Programs that link the library also need
# -lntdll.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
prefix="${1:-$root/build/ntfs3g-mingw}"
mkdir -p "$(dirname "$prefix")"
prefix="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"
work="$root/build/ntfs3g-mingw-src"
shims="$root/scripts/ntfs3g-mingw"
host=x86_64-w64-mingw32
upstream=2022.10.3   # the shims and the patch are made for this release

fail() { echo "build-ntfs3g-windows.sh: $*" >&2; exit 1; }

# What the result depends on besides Debian's source: this script and the
# shims. A change to any of them builds the library again.
fingerprint=$(cat "$0" "$shims"/*.h "$shims"/*.c "$shims"/include/*.h "$shims"/*.patch | sha256sum | cut -c1-16)
stamp="$prefix/.shardix-ntfs3g"
if [[ -f "$stamp" && -f "$prefix/lib/libntfs-3g.a" && -f "$prefix/include/ntfs-3g/volume.h" ]] &&
   grep -qx "shims $fingerprint" "$stamp"; then
  echo "libntfs-3g for Windows is already built in $prefix ($(grep '^source ' "$stamp" | cut -d' ' -f2))."
  exit 0
fi
start=$SECONDS

bash scripts/setup-deps.sh ntfs3g-cross

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || fail "run as root (or with sudo at hand) to add Debian's source archive"
  sudo=sudo
fi

# Debian's source archive for bookworm main.
targets=$(apt-get indextargets --format '$(CREATED_BY) $(RELEASE) $(COMPONENT)' 2>/dev/null || true)
if ! grep -qx 'Sources bookworm main' <<<"$targets"; then
  list=/etc/apt/sources.list.d/shardix-bookworm-src.sources
  echo "Adding Debian's source archive for bookworm main: $list"
  $sudo tee "$list" >/dev/null <<'EOF'
# Added by Shardix's scripts/build-ntfs3g-windows.sh: the source package of
# ntfs-3g, cross-built for the Windows tree.
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $sudo apt-get update -qq || fail "apt-get update failed after adding $list"
fi

# The version: as asked, else bookworm main's (the security archive's source
# may be missing from the mirror). Only the release the shims are made for.
versions=$(apt-cache showsrc ntfs-3g 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
[[ -n "$versions" ]] || fail "apt-cache showsrc ntfs-3g lists no source package; is a deb-src line for bookworm main configured?"
if [[ -n "${NTFS3G_SOURCE_VERSION:-}" ]]; then
  candidates=$NTFS3G_SOURCE_VERSION
else
  main_version=$(apt-cache madison ntfs-3g 2>/dev/null |
                 awk -F'|' '$3 ~ /bookworm\/main Sources/ && $3 !~ /security|updates/ {gsub(/ /,"",$2); print $2}' |
                 head -1)
  # Bookworm main's first, then the others, newest first.
  candidates=$( { [[ -n "$main_version" ]] && echo "$main_version"; echo "$versions" | sort -rV; } | awk '!seen[$0]++')
fi
source_dir="$work/ntfs-3g-$upstream"
chosen=""
rm -rf "$work"
mkdir -p "$work"
for version in $candidates; do
  [[ "$version" == 1:$upstream-* ]] || { echo "Skipping ntfs-3g $version: the shims are made for $upstream." >&2; continue; }
  echo "Fetching Debian's source of ntfs-3g $version ..."
  if (cd "$work" && apt-get source -qq "ntfs-3g=$version" >"$work/apt-source.log" 2>&1); then
    chosen=$version
    break
  fi
  echo "apt-get source ntfs-3g=$version failed:" >&2
  tail -5 "$work/apt-source.log" >&2
  rm -rf "${work:?}"/*
done
[[ -n "$chosen" ]] || fail "no source of ntfs-3g $upstream could be fetched (available: $(echo $versions))"
[[ -f "$source_dir/autogen.sh" ]] || fail "apt-get source left no $source_dir/autogen.sh"

cd "$source_dir"
log="$work/build.log"
step() {
  local what=$1
  shift
  echo "  $what ..."
  "$@" >>"$log" 2>&1 || { tail -40 "$log" >&2; fail "$what failed; the whole log is $log"; }
}
echo "Building libntfs-3g $chosen for $host (log: $log) ..."

# The Windows device file was written for old MinGW headers.
step "patching win32_io.c" patch -p1 --forward -i "$shims/win32_io.patch"

step "autogen.sh" ./autogen.sh
step "configure" ./configure --host=$host CC=$host-gcc-posix \
  --prefix="$prefix" --exec-prefix="$prefix" \
  --disable-ntfs-3g --disable-ntfsprogs --disable-plugins --without-uuid --without-hd \
  --disable-shared --enable-static --disable-ldconfig --disable-mtab \
  CFLAGS="-O2 -g -include $shims/shim.h -I$shims/include"

# config.h defines WINDOWS for a mingw host, which switches on a branch of
# compat.h that defines __attribute__ away: every on-disk structure would lose
# its packing. The Windows device file is chosen by the makefiles, not by it.
grep -qx '#define WINDOWS 1' config.h || fail "config.h does not define WINDOWS as expected; check compat.h by hand"
sed -i 's|^#define WINDOWS 1$|/* WINDOWS left undefined: it would define __attribute__ away */|' config.h
! grep -q '^#define WINDOWS' config.h || fail "WINDOWS is still defined in config.h"
step "checking the on-disk structure layout" $host-gcc-posix -DHAVE_CONFIG_H -I. -Iinclude/ntfs-3g \
  -include "$shims/shim.h" -I"$shims/include" -fsyntax-only "$shims/layout_check.c"

step "make" make -j"$(nproc)"
rm -rf "$prefix"
step "make install" make install
# Our own code includes the shim before the library's headers.
cp "$shims/shim.h" "$prefix/include/ntfs-3g-mingw-shim.h"
[[ -f "$prefix/lib/libntfs-3g.a" ]] || fail "make install left no $prefix/lib/libntfs-3g.a"

printf 'source %s\nshims %s\n' "$chosen" "$fingerprint" >"$stamp"
echo "libntfs-3g $chosen for Windows built in $prefix in $((SECONDS - start)) s."
