#!/bin/sh
# SPDX-License-Identifier: MIT
# library_abi_test.sh exports|soname LIBRARY HEADER MANUAL_PAGE
#
# exports: the dynamic symbols LIBRARY defines are exactly the functions
# pelk.h declares (PELK_API), each named in the manual page's NAME section,
# each under a version node PELK_1.N as its default version, plus the nodes
# themselves. Anything else exported (an engine class, a C++ template the
# standard headers make visible) would be ABI that changes with the
# internals; a declared function not exported is a link error waiting for
# its first caller.
# soname: the SONAME is libpelk.so.1, the name programs record.
# library_abi_test.sh declared HEADER prints the functions HEADER declares,
# one a line (the Windows stage compares the DLL's exports with them).
set -eu
mode=$1
fail() { echo "library ABI: $*" >&2; exit 1; }
declared() { sed -n 's/^PELK_API .*[^a-z0-9_]\(pelk_[a-z0-9_]*\)(.*/\1/p' "$1" | sort -u; }
if [ "$mode" = declared ]; then
  declared "$2"
  exit 0
fi
library=$2 header=$3 manual=$4

if [ "$mode" = soname ]; then
  soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]$/\1/p')
  [ "$soname" = libpelk.so.1 ] || fail "SONAME is '$soname', not libpelk.so.1"
  echo "library ABI: SONAME $soname"
  exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pelk-abi.XXXXXX")
trap 'rm -rf "$work"' EXIT
declared "$header" >"$work/declared"
[ -s "$work/declared" ] || fail "no PELK_API function found in $header"
# The NAME section: the lines between .SH NAME and the next .SH.
sed -n '/^\.SH NAME/,/^\.SH/p' "$manual" | tr ', ' '\n\n' | grep '^pelk_' | sort -u >"$work/named"
nm -D --defined-only "$library" >"$work/nm"
[ -s "$work/nm" ] || fail "nm found no dynamic symbols in $library"

status=0
while read -r address type name; do
  case "$type $name" in
    "A PELK_1."[0-9]*) ;;  # a version node's own definition
    *@@PELK_1.[0-9]*)
      base=${name%%@@*}
      grep -qx "$base" "$work/declared" || { echo "exported, not a pelk.h function: $name" >&2; status=1; } ;;
    *) echo "exported without a version node or outside the API: $type $name" >&2; status=1 ;;
  esac
done <"$work/nm"
sed -n 's/^.* [A-Za-z] \(pelk_[a-z0-9_]*\)@@PELK_1\.[0-9]*$/\1/p' "$work/nm" | sort -u >"$work/exported"
for name in $(comm -23 "$work/declared" "$work/exported"); do
  echo "declared in pelk.h, not exported: $name" >&2
  status=1
done
for name in $(comm -23 "$work/declared" "$work/named"); do
  echo "declared in pelk.h, not in the NAME section of $(basename "$manual"): $name" >&2
  status=1
done
[ $status -eq 0 ] || fail "the exports are not the documented API (nm -D --defined-only $library)"
echo "library ABI: $(wc -l <"$work/exported") functions exported, all of pelk.h's"
