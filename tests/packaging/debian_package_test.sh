#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# debian_package_test.sh CMAKE CPACK GENERATOR BUILD_DIR SOURCE_DIR CC VERSION LIBDIR
#
# The Debian packages of BUILD_DIR as a distribution would check them:
# cpack -G DEB makes pelk, libpelkN and libpelk-dev; lintian finds no error
# in them (its output is printed in full; the one tag left out is
# uncompressed-manual-page, manual pages being compressed by a
# distribution's own packaging); together they hold exactly what
# "cmake --install" installs (the license moving into each copyright file)
# plus each package's copyright and changelog.gz; each depends on the
# package of every library its binaries load; the library's symbols file
# matches its exports. Unpacked with dpkg-deb -x,
# the programs and the library's example (built against the unpacked tree)
# compress and restore; every place that states the version states VERSION;
# file(1) with the packaged magic names a container, and shared-mime-info
# takes the packaged type.
set -euo pipefail
cmake=$1 cpack=$2 generator=$3 build=$4 source=$5 cc=$6 version=$7 libdir=$8
work=$(mktemp -d "${TMPDIR:-/tmp}/pelk-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "Debian packages: $*" >&2; failed=1; }
stop() { echo "Debian packages: $*" >&2; exit 1; }

# --- Building and checking the packages --------------------------------------
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; stop "cpack -G DEB failed"; }
major=${version%%.*}
packages=(pelk "libpelk$major" libpelk-dev)
debs=()
for package in "${packages[@]}"; do
  deb=$(ls "$work/out/${package}_${version}_"*.deb 2>/dev/null) || stop "no package $package $version was made"
  debs+=("$deb")
done
[ "$(ls "$work/out"/*.deb | wc -l)" -eq ${#packages[@]} ] || stop "packages other than ${packages[*]}: $(ls "$work/out")"

lintian_status=0
lintian --fail-on error --suppress-tags uncompressed-manual-page "${debs[@]}" >"$work/lintian.log" 2>&1 ||
  lintian_status=$?
echo "lintian --suppress-tags uncompressed-manual-page ${packages[*]}:"
grep -v '^running with root privileges' "$work/lintian.log" || echo "(no tags)"
[ $lintian_status -eq 0 ] || fail "lintian found errors (status $lintian_status)"

# --- Contents: what cmake --install installs, and the Debian files -----------
"$cmake" --install "$build" --prefix "$work/plain" >/dev/null
root=$work/root
for deb in "${debs[@]}"; do
  dpkg-deb -x "$deb" "$root"
done
list_tree() { (cd "$1" && find . ! -type d | sed 's|^\./||' | sort); }
list_tree "$work/plain" | grep -vx "share/doc/pelk/LICENSE" >"$work/plain.list"
list_tree "$root/usr" | grep -vE "^share/doc/[^/]+/(copyright|changelog\.gz)$" >"$work/deb.list"
diff "$work/plain.list" "$work/deb.list" >"$work/contents.diff" ||
  fail "the packages differ from cmake --install (<: only installed, >: only packaged):
$(cat "$work/contents.diff")"
for package in "${packages[@]}"; do
  for file in copyright changelog.gz; do
    [ -f "$root/usr/share/doc/$package/$file" ] || fail "$package has no usr/share/doc/$package/$file"
  done
done
grep -qx "License: MIT" "$root/usr/share/doc/pelk/copyright" || fail "the copyright file does not name the license"

# --- Dependencies: the package of every library a binary loads ---------------
field() { dpkg-deb -f "$1" "$2"; }
for deb in "${debs[@]}"; do
  package=$(field "$deb" Package)
  depends=$(field "$deb" Depends)
  mkdir -p "$work/one/$package"
  dpkg-deb -x "$deb" "$work/one/$package"
  while IFS= read -r binary; do
    [[ "$(file -b "$binary")" == ELF* ]] || continue
    for needed in $(objdump -p "$binary" | awk '$1 == "NEEDED" { print $2 }'); do
      if [ -e "$root/usr/$libdir/$needed" ]; then
        provider=libpelk$major
      else
        # The file the loader finds here, and the package it came in.
        # (ldd shows the dynamic loader by its path alone.)
        path=$(LD_LIBRARY_PATH="$root/usr/$libdir" ldd "$binary" |
               awk -v lib="$needed" '$1 == lib { print $3 } $1 ~ "/" lib "$" { print $1 }')
        provider=$({ dpkg-query -S "$path" || dpkg-query -S "$(realpath "$path")"; } 2>/dev/null |
                   head -n 1 | cut -d: -f1 || true)
        [ -n "$provider" ] || { fail "$package: no installed package has $needed ($path)"; continue; }
      fi
      [ "$provider" = "$package" ] && continue
      [[ ", $depends," == *", $provider "* || ", $depends," == *", $provider,"* ]] ||
        fail "$package: ${binary##*/} loads $needed, but Depends ($depends) lacks $provider"
    done
  done < <(find "$work/one/$package" -type f)
done
# The library's symbols file lists exactly what it exports (dpkg-gensymbols
# fails on a symbol missing from either side).
dpkg-deb -e "${debs[1]}" "$work/library-control"
for control_file in shlibs symbols triggers; do
  [ -f "$work/library-control/$control_file" ] || fail "libpelk$major has no $control_file control file"
done
mkdir -p "$work/one/libpelk$major/DEBIAN"
dpkg-gensymbols -v"$version" -p"libpelk$major" -P"$work/one/libpelk$major" \
  -e"$work/one/libpelk$major/usr/$libdir/libpelk.so.$version" -I"$work/library-control/symbols" \
  -O"$work/symbols.generated" -c4 >"$work/gensymbols.log" 2>&1 ||
  fail "the symbols file does not match the library's exports: $(cat "$work/gensymbols.log")"
[[ "$(field "${debs[2]}" Depends)" == *"libpelk$major (= $version)"* ]] ||
  fail "libpelk-dev does not depend on libpelk$major (= $version): $(field "${debs[2]}" Depends)"

# --- The unpacked programs and the example ------------------------------------
mkdir "$work/run"
cp "$source/samples/sample.txt" "$work/run/sample.txt"
(cd "$work/run" && "$root/usr/bin/pelk" sample.txt sample.plk >/dev/null) || fail "the packaged pelk failed"
"$root/usr/bin/unpelk" -t "$work/run/sample.plk" || fail "the packaged unpelk -t refused pelk's container"
"$root/usr/bin/unpelk" -c "$work/run/sample.plk" | cmp -s - "$source/samples/sample.txt" ||
  fail "the packaged unpelk -c did not restore the sample"
# Every other program packaged at least starts (its libraries are there).
for program in "$root"/usr/bin/*; do
  status=0
  "$program" --help >/dev/null 2>&1 </dev/null || status=$?
  [ $status -lt 126 ] || fail "${program##*/} does not start (status $status)"
done

# The example against the unpacked tree: the CMake package of libpelk-dev,
# the library of libpelkN, shared and static.
for kind in shared static; do
  static=OFF
  [ $kind = static ] && static=ON
  "$cmake" -S "$source/examples" -B "$work/example-$kind" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$root/usr" -DPELK_EXAMPLE_STATIC=$static >"$work/example.log" 2>&1 &&
    "$cmake" --build "$work/example-$kind" >>"$work/example.log" 2>&1 ||
    { cat "$work/example.log" >&2; fail "building the example ($kind) against the packages failed"; continue; }
  cp "$source/samples/sample.txt" "$work/run/example-$kind.txt"
  "$work/example-$kind/pelk_example" "$work/run/example-$kind.txt" >"$work/example.out" 2>&1 ||
    fail "the example ($kind) failed: $(cat "$work/example.out")"
  grep -q "restored exactly" "$work/example.out" || fail "the example ($kind): $(cat "$work/example.out")"
  grep -q "libpelk $version," "$work/example.out" || fail "the example ($kind) reports: $(head -n 1 "$work/example.out")"
done
# (Through a file: grep -q leaving early would fail the pipeline.)
ldd "$work/example-shared/pelk_example" >"$work/example.ldd"
grep -q "libpelk.so.$major => $root/usr/$libdir/" "$work/example.ldd" ||
  fail "the shared example does not load the packaged libpelk.so.$major: $(cat "$work/example.ldd")"

# --- The version, wherever it is stated ---------------------------------------
expect_version() {
  [ "$2" = "$version" ] || fail "$1 says '$2', not $version"
}
expect_version "unpelk -V" "$("$root/usr/bin/unpelk" -V | sed -n 's/^unpelk //p')"
expect_version "pelk.pc" "$(PKG_CONFIG_PATH="$root/usr/$libdir/pkgconfig" pkg-config --modversion pelk)"
grep -qx "License: MIT" "$root/usr/$libdir/pkgconfig/pelk.pc" || fail "pelk.pc does not name the license"
expect_version "pelkConfigVersion.cmake" \
  "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$root/usr/$libdir/cmake/pelk/pelkConfigVersion.cmake")"
header_version=$(printf '#include <pelk.h>\nPELK_VERSION_STRING\nPELK_VERSION_MAJOR PELK_VERSION_MINOR PELK_VERSION_PATCH\n' |
  "$cc" -E -P -I"$root/usr/include" - | tail -n 2)
expect_version "PELK_VERSION_STRING" "$(echo "$header_version" | head -n 1 | tr -d '"')"
expect_version "PELK_VERSION_MAJOR, _MINOR, _PATCH" "$(echo "$header_version" | tail -n 1 | tr ' ' .)"
[ -f "$root/usr/$libdir/libpelk.so.$version" ] || fail "no usr/$libdir/libpelk.so.$version: $(ls "$root/usr/$libdir")"
for package in "${packages[@]}"; do
  expect_version "the version of $package" "$(dpkg-deb -f "$work/out/${package}_${version}_"*.deb Version)"
done
expect_version "the changelog's latest entry" "$(sed -n '1s/^pelk (\([^)]*\)).*/\1/p' "$build/debian/changelog")"
while IFS= read -r page; do
  expect_version "${page#"$root/"}" "$(sed -n 's/^\.TH [^"]*"[^"]*" "pelk \([^"]*\)".*/\1/p' "$page")"
done < <(find "$root/usr/share/man" -type f)
# man3: a page or link under every function's name.
while IFS= read -r function; do
  [ -e "$root/usr/share/man/man3/$function.3" ] || fail "no manual page $function(3)"
done < <("$source/tests/packaging/library_abi_test.sh" declared "$root/usr/include/pelk.h")

# --- What tells a container by its bytes --------------------------------------
magic=$root/usr/share/file/magic/pelk
size=$(stat -c %s "$source/samples/sample.txt")
said=$(file -b -m "$magic" "$work/run/sample.plk")
[ "$said" = "Pelk compressed data, was \"sample.txt\", original size modulo 2^32 $size" ] ||
  fail "file -m says: $said"
[ "$(file -b --mime-type -m "$magic" "$work/run/sample.plk")" = application/x-pelk ] ||
  fail "file --mime-type says: $(file -b --mime-type -m "$magic" "$work/run/sample.plk")"
# Flags other than a stored name's: not a container this program wrote.
{ head -c 3 "$work/run/sample.plk"; printf '\001'; tail -c +5 "$work/run/sample.plk"; } >"$work/run/flags.plk"
[[ "$(file -b -m "$magic" "$work/run/flags.plk")" != Pelk* ]] || fail "file -m names a container with unknown flags"
mkdir -p "$work/mime/packages"
cp "$root/usr/share/mime/packages/pelk.xml" "$work/mime/packages/"
update-mime-database "$work/mime" >"$work/mime.log" 2>&1 || { cat "$work/mime.log" >&2; fail "update-mime-database refused pelk.xml"; }
grep -qx application/x-pelk "$work/mime/types" || fail "shared-mime-info did not take application/x-pelk"
grep -q ':application/x-pelk:\*\.plk$' "$work/mime/globs2" || fail "shared-mime-info has no *.plk glob"
grep -qaF "$(printf '\037\253\010')" "$work/mime/magic" || fail "shared-mime-info has no magic 1F AB 08"

[ $failed -eq 0 ] || exit 1
echo "Debian packages: ${packages[*]} $version checked"
