#!/bin/sh
# SPDX-License-Identifier: MIT
# install_test.sh CMAKE GENERATOR BUILD_DIR SOURCE_DIR CC LIBDIR PKG_CONFIG
#
# Installs BUILD_DIR into a temporary prefix and moves the tree elsewhere
# (the package and the .pc file must not remember where they were put), then
# builds examples/pelk_example.c four ways against it: find_package with
# pelk::pelk and with pelk::pelk_static, pkg-config shared and pkg-config
# --static in a fully static program. Each build compresses and restores
# two files; its container must equal the installed pelk's apart from the
# time stamp, and the installed unpelk must accept it. Any failure fails
# the test.
set -eu
cmake=$1 generator=$2 build=$3 source=$4 cc=$5 libdir=$6 pkg_config=$7

work=$(mktemp -d "${TMPDIR:-/tmp}/pelk-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/staged" >"$work/install.log"
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
for file in include/pelk.h "$libdir/libpelk.a" "$libdir/libpelk.so" "$libdir/pkgconfig/pelk.pc" \
            "$libdir/cmake/pelk/pelkConfig.cmake" "$libdir/cmake/pelk/pelkConfigVersion.cmake" \
            bin/pelk bin/unpelk bin/plk share/man/man1/pelk.1 share/man/man1/unpelk.1 share/man/man1/plk.1 \
            share/man/man3/libpelk.3 share/bash-completion/completions/plk; do
  [ -e "$prefix/$file" ] || fail "$file was not installed"
done
soname=$(objdump -p "$prefix/$libdir/libpelk.so" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libpelk.so.1 ] || fail "SONAME is '$soname', not libpelk.so.1"
[ -e "$prefix/$libdir/$soname" ] || fail "$soname was not installed"

# The inputs: a text and a binary of a few hundred KiB (more than one of the
# inflater's output chunks and many of the compressor's 16 KiB writes).
mkdir "$work/in"
cp "$source/samples/sample.txt" "$work/in/sample.txt"
cp "$prefix/bin/pelk" "$work/in/binary"
(cd "$work/in" && "$prefix/bin/pelk" sample.txt sample.txt.expected >/dev/null &&
                  "$prefix/bin/pelk" binary binary.expected >/dev/null) || fail "the installed pelk failed"

# run_example NAME PROGRAM [ENV...]: runs it on both inputs and checks.
run_example() {
  name=$1 program=$2
  shift 2
  for input in sample.txt binary; do
    rm -f "$work/in/$input.plk"
    env "$@" "$program" "$work/in/$input" >"$work/$name.out" 2>&1 || { cat "$work/$name.out" >&2; fail "$name on $input failed"; }
    grep -q "restored exactly" "$work/$name.out" || fail "$name on $input: $(cat "$work/$name.out")"
    # Equal to pelk's container but for bytes 4-7, the time stamp.
    cmp -s -n 4 "$work/in/$input.plk" "$work/in/$input.expected" &&
      cmp -s -i 8 "$work/in/$input.plk" "$work/in/$input.expected" ||
      fail "$name on $input: the container differs from pelk's"
    "$prefix/bin/unpelk" -t "$work/in/$input.plk" || fail "$name on $input: unpelk -t refused the container"
  done
}

# find_package, shared and static.
for kind in shared static; do
  static=OFF
  [ $kind = static ] && static=ON
  "$cmake" -S "$source/examples" -B "$work/cmake-$kind" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" -DPELK_EXAMPLE_STATIC=$static >"$work/cmake-$kind.log" 2>&1 ||
    { cat "$work/cmake-$kind.log" >&2; fail "configuring the example ($kind) failed"; }
  "$cmake" --build "$work/cmake-$kind" >>"$work/cmake-$kind.log" 2>&1 ||
    { cat "$work/cmake-$kind.log" >&2; fail "building the example ($kind) failed"; }
  run_example "cmake-$kind" "$work/cmake-$kind/pelk_example"
done
ldd "$work/cmake-shared/pelk_example" | grep -q "libpelk.so.1 => $prefix/" ||
  fail "the find_package shared build does not load the installed libpelk.so.1"
ldd "$work/cmake-static/pelk_example" | grep -q libpelk && fail "the find_package static build loads libpelk.so"

# pkg-config, shared and fully static; the flags are exactly what it prints.
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
"$cc" -o "$work/pc-shared" "$source/examples/pelk_example.c" $("$pkg_config" --cflags --libs pelk) ||
  fail "building with pkg-config (shared) failed"
run_example pc-shared "$work/pc-shared" LD_LIBRARY_PATH="$prefix/$libdir"
"$cc" -static -o "$work/pc-static" "$source/examples/pelk_example.c" $("$pkg_config" --cflags --libs --static pelk) ||
  fail "building with pkg-config --static failed"
run_example pc-static "$work/pc-static"
echo "install test: 4 builds of the example passed"
