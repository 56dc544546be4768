#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds pelk, unpelk and libpelk for another system or processor with
# Debian's cross compilers, installing them first:
#
#   scripts/cross-build.sh windows [BUILD_DIR]   # x86-64 Windows, MinGW-w64: pelk.exe, unpelk.exe, pelk.dll
#   scripts/cross-build.sh s390x [BUILD_DIR]     # IBM Z, big-endian; static programs
#   scripts/cross-build.sh aarch64 [BUILD_DIR]   # 64-bit ARM; static programs
#
# BUILD_DIR defaults to build-TARGET. The tests are not cross-built: the
# test suite runs these programs under Wine or qemu-user against the native
# build (tests/platforms/platform_test.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-}
case "$target" in
  windows) triple=x86_64-w64-mingw32; compiler=g++-mingw-w64-x86-64-posix ;;
  s390x) triple=s390x-linux-gnu; compiler=g++-s390x-linux-gnu ;;
  aarch64) triple=aarch64-linux-gnu; compiler=g++-aarch64-linux-gnu ;;
  *) echo "usage: scripts/cross-build.sh windows|s390x|aarch64 [BUILD_DIR]" >&2; exit 2 ;;
esac
dir=${2:-$root/build-$target}
"$root/scripts/install-deps.sh" cmake ninja-build "$compiler"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$triple.cmake" \
  -DPELK_BUILD_TESTS=OFF -DPELK_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
