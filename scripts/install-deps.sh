#!/usr/bin/env bash
# Installs Debian packages, skipping what is already there: the ones named
# as arguments, or with none, everything the build, the tests, the fuzzers
# and the benchmarks need. Needs root (or sudo) only when something is
# missing.
set -euo pipefail

if [ $# -gt 0 ]; then
  packages=("$@")
else
  packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev
            libbenchmark-dev libdeflate-dev libdeflate-tools valgrind pkg-config)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
