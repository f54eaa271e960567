#!/bin/bash
# The program defines no function of the C library: one defined there would
# stand in for the C library's for every caller, shared libraries included.
#   no_libc_symbols.sh PROGRAM
set -euo pipefail
program=$1
libc=$(ldd "$program" | awk '$1 ~ /^libc\.so/ {print $3}')
[ -n "$libc" ] || { echo "no C library among the libraries of $program"; exit 1; }
defined() { nm -D --defined-only "$1" | awk 'NF >= 3 && $2 ~ /[TtWwiV]/ {sub(/@.*/, "", $3); print $3}' | sort -u; }
both=$(comm -12 <(defined "$program") <(defined "$libc"))
if [ -n "$both" ]; then
  echo "$program defines functions of $libc:"
  echo "$both"
  exit 1
fi
echo "$program defines no function of $libc"
