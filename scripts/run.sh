#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds pelk, unpelk and plk in Release and compresses FILE [TARGET]; with no
# arguments, compresses the bundled sample into build/sample.plk.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The programs need only a compiler and the build tools; the configure step
# leaves out (and names) the tests and benchmarks whose packages are absent.
"$root/scripts/install-deps.sh" cmake ninja-build g++
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target pelk unpelk plk
if [ $# -eq 0 ]; then
  set -- "$root/samples/sample.txt" "$root/build/sample.plk"
fi
"$root/build/driver/pelk" "$@"
