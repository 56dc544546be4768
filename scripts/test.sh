#!/usr/bin/env bash
# Builds and runs every test twice: in a Release build, and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer. Fails when any test fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite "$root/build" -DCMAKE_BUILD_TYPE=Release
run_suite "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELK_SANITIZE=ON
