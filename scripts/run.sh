#!/usr/bin/env bash
# Builds pelk in Release and compresses FILE [TARGET]; with no arguments,
# compresses the bundled sample into build/sample.plk.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target pelk
if [ $# -eq 0 ]; then
  set -- "$root/samples/sample.txt" "$root/build/sample.plk"
fi
"$root/build/driver/pelk" "$@"
