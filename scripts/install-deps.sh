#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs Debian packages, skipping what is already there: the ones named
# as arguments, or with none, everything the build, the tests, the fuzzers,
# the benchmarks and the other platforms' builds and runs need. Needs root
# (or sudo) only when something is missing.
#
# The packaging test builds .deb files with CPack and checks them with
# Debian's own tools: lintian, dpkg-deb and dpkg-shlibdeps (dpkg-dev),
# file(1) for the magic fragment and shared-mime-info for the MIME type.
#
# The other platforms' packages (cross compilers, Wine, qemu-user) come
# without their recommended packages: Wine would otherwise bring fonts,
# graphics drivers and sound, none of which a console program run needs.
set -euo pipefail

platform_packages=(g++-mingw-w64-x86-64-posix wine64 qemu-user-static g++-s390x-linux-gnu g++-aarch64-linux-gnu)
if [ $# -gt 0 ]; then
  packages=("$@")
else
  packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev
            libbenchmark-dev libdeflate-dev libdeflate-tools valgrind pkg-config
            lintian dpkg-dev file shared-mime-info "${platform_packages[@]}")
fi

missing=()
lean=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && continue
  if [[ " ${platform_packages[*]} " == *" $p "* ]]; then lean+=("$p"); else missing+=("$p"); fi
done
[ ${#missing[@]} -eq 0 ] && [ ${#lean[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]} ${lean[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
[ ${#lean[@]} -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${lean[@]}" >/dev/null
