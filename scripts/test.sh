#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test twice: in a Release build, and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer; between them the Windows,
# s390x and aarch64 builds against the Release build (under Wine and
# qemu-user); then the tests where threads run side by side under
# ThreadSanitizer, and every fuzzer for a short while. Every package must be
# there (PELK_REQUIRE_ALL), so no test is quietly left out.
# Fails when any test fails.
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

run_suite "$root/build" -DCMAKE_BUILD_TYPE=Release -DPELK_REQUIRE_ALL=ON

# Other platforms, against the Release build: Windows (MinGW-w64) under Wine
# on the whole corpus; big-endian s390x and 64-bit ARM under qemu-user on
# the eleven small files and xml, which between them take every path of
# the engine and the inflater (stored, fixed and dynamic blocks, window
# slides, output chunks past 256 KiB, inputs of several 512 KiB segments)
# at a quarter of the corpus's bytes.
corpus=$root/../shared/corpus
emulated_subset="alice29.txt asyoulik.txt fireworks.jpeg geo.protodata html html_x_4 kppkn.gtb lcet10.txt
                 paper-100k.pdf plrabn12.txt urls.10K xml"
for target in windows s390x aarch64; do
  "$root/scripts/cross-build.sh" "$target" "$root/build-$target"
done
"$root/tests/platforms/platform_test.sh" windows "$root/build-windows" "$root/build" "$corpus"
for target in s390x aarch64; do
  # shellcheck disable=SC2086
  "$root/tests/platforms/platform_test.sh" "$target" "$root/build-$target" "$root/build" "$corpus" $emulated_subset
done
run_suite "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELK_SANITIZE=ON -DPELK_REQUIRE_ALL=ON

# ThreadSanitizer: the tests where threads run side by side, the library's
# calls and parallel compression (on the built inputs, which meet in every
# way the corpus does, at a fraction of its time under the sanitizer), and
# parallel compressions cut short by failing reads and writes.
tsan_dir="$root/build-tsan"
cmake -S "$root" -B "$tsan_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELK_THREAD_SANITIZE=ON \
  -DPELK_REQUIRE_ALL=ON -DPELK_BUILD_BENCH=OFF >/dev/null
cmake --build "$tsan_dir" -j "$jobs" --target library_test parallel_test
ctest --test-dir "$tsan_dir" --output-on-failure -R '^(LibraryThreads|LibraryStreams\.FailuresMidway|ParallelCompression\.EveryThreadCount)' --no-tests=error

# Fuzz smoke: every libFuzzer target (clang, address and undefined-behaviour
# sanitizers, the whole program instrumented for coverage) for 30 s each;
# every match search of the lazy parse runs both ways there, and a
# difference stops the fuzzer.
fuzz_dir="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELK_FUZZ=ON -DPELK_SANITIZE=ON -DPELK_CHECK_SEARCH=ON -DPELK_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$fuzz_dir" -j "$jobs"
# A whole container to start unpelk_fuzz's container mode from (a first
# byte of 0 chooses the mode): random bytes seldom pass the CRC-32.
mkdir -p "$fuzz_dir/corpus/unpelk_fuzz"
"$fuzz_dir/driver/pelk" "$root/samples/sample.txt" "$fuzz_dir/sample.plk" >/dev/null
{ printf '\000'; cat "$fuzz_dir/sample.plk"; } >"$fuzz_dir/corpus/unpelk_fuzz/sample-container"
fuzzers=$(find "$fuzz_dir/tests/fuzz" -maxdepth 1 -name '*_fuzz' -type f -perm -u+x | sort)
[ -n "$fuzzers" ] || { echo "no fuzzer was built" >&2; exit 1; }
for fuzzer in $fuzzers; do
  name=$(basename "$fuzzer")
  mkdir -p "$fuzz_dir/corpus/$name" "$fuzz_dir/artifacts"
  echo "fuzzing $name for 30 s"
  # The compressor's inputs may grow to 64 KiB: past two segments of 32 KiB
  # they take the threads' splice without being expanded.
  max_len=()
  [ "$name" = compress_fuzz ] && max_len=(-max_len=65536)
  "$fuzzer" -max_total_time=30 -print_final_stats=1 "${max_len[@]}" -artifact_prefix="$fuzz_dir/artifacts/$name-" \
    "$fuzz_dir/corpus/$name" >"$fuzz_dir/$name.log" 2>&1 \
    || { tail -n 40 "$fuzz_dir/$name.log" >&2; echo "fuzzer $name failed" >&2; exit 1; }
  grep -E '^stat::number_of_executed_units' "$fuzz_dir/$name.log" || true
done
