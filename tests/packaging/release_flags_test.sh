#!/bin/sh
# SPDX-License-Identifier: MIT
# release_flags_test.sh CMAKE GENERATOR SOURCE_DIR C_COMPILER CXX_COMPILER
#
# Configures the project twice in a Release build (programs only) and reads
# the compile commands: with -DCMAKE_CXX_FLAGS_RELEASE given, every unit is
# compiled with those and not the project's defaults (and a given
# -DCMAKE_C_FLAGS_RELEASE is kept too); with none given, with the project's
# -O2 -DNDEBUG.
set -eu
cmake=$1 generator=$2 source=$3 cc=$4 cxx=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/pelk-flags.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "release flags: $*" >&2; exit 1; }

configure() {
  dir=$1
  shift
  "$cmake" -S "$source" -B "$work/$dir" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DPELK_BUILD_TESTS=OFF -DPELK_BUILD_BENCH=OFF "$@" >"$work/$dir.log" 2>&1 ||
    { cat "$work/$dir.log" >&2; fail "configuring ($dir) failed"; }
  grep '"command"' "$work/$dir/compile_commands.json" >"$work/$dir.commands" || fail "no compile commands ($dir)"
}

configure given "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DPELK_PACKAGER_CXX" "-DCMAKE_C_FLAGS_RELEASE=-O1 -DPELK_PACKAGER_C"
units=$(wc -l <"$work/given.commands")
grep -c -- '-O1 -DPELK_PACKAGER_CXX' "$work/given.commands" >"$work/count" || true
[ "$(cat "$work/count")" -eq "$units" ] || fail "$(($units - $(cat "$work/count"))) of $units units lost the given flags"
! grep -q -- '-O2' "$work/given.commands" || fail "the project's -O2 was added to the given flags:
$(grep -m 1 -- '-O2' "$work/given.commands")"
# No unit of the project is C (the example is built on its own), so the C
# flags are checked where that build would take them from.
grep -qx 'CMAKE_C_FLAGS_RELEASE:STRING=-O1 -DPELK_PACKAGER_C' "$work/given/CMakeCache.txt" ||
  fail "the C flags given were not kept: $(grep '^CMAKE_C_FLAGS_RELEASE:' "$work/given/CMakeCache.txt")"

configure default
units=$(wc -l <"$work/default.commands")
[ "$(grep -c -- '-O2 -DNDEBUG' "$work/default.commands")" -eq "$units" ] ||
  fail "without flags given, not every unit has the project's -O2 -DNDEBUG"
echo "release flags: $units units; given flags kept, defaults otherwise"
