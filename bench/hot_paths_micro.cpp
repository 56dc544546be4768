// SPDX-License-Identifier: MIT
// Google Benchmark micro-suite for the hot functions of the compressor: the
// CRC, the bit writer, the longest-match search and block emission. Each
// runs on the first 64 KiB of a corpus file (dickens by default, or the
// file named by PELK_MICRO_FILE), in process, with output going to
// /dev/null. Whole-program speed is bench/compare's job; this is for seeing
// which part a change moved.
#include <benchmark/benchmark.h>
#include <fcntl.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/file_io.h"
#include "engine/block_flush.h"
#include "engine/engine.h"
#include "engine/match_finder.h"

namespace {

std::vector<uint8_t> sample() {
  const char* chosen = std::getenv("PELK_MICRO_FILE");
  const std::string path = chosen != nullptr ? chosen : std::string(PELK_CORPUS_DIR) + "/dickens";
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  data.resize(pelk::window_capacity);  // zero-padded if the file is shorter
  return data;
}

pelk::deflate_compressor compressor;

void discard_output() {
  static int null_fd = ::open("/dev/null", O_WRONLY);
  pelk::start_output(compressor.out, {pelk::write_descriptor, &null_fd});
}

void BM_Crc32(benchmark::State& state) {
  const std::vector<uint8_t> data = sample();
  uint32_t crc = 0;
  for (auto _ : state) {
    crc = pelk::crc32_extend(crc, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Crc32);

void BM_EmitBits(benchmark::State& state) {
  discard_output();
  std::mt19937 rng(1);
  std::vector<std::pair<uint32_t, int>> fields(4096);
  for (auto& [value, length] : fields) {
    length = 1 + static_cast<int>(rng() % 15);
    value = rng() & ((1u << length) - 1);
  }
  for (auto _ : state) {
    for (const auto& [value, length] : fields) pelk::emit_bits(compressor.out, value, length);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(fields.size()));
}
BENCHMARK(BM_EmitBits);

// Inserts every position of the window and searches at each one of the
// second half as it is inserted, with the chain it would see there.
void BM_FindBestMatch(benchmark::State& state) {
  const std::vector<uint8_t> data = sample();
  pelk::match_finder& finder = compressor.finder;
  std::memcpy(finder.window, data.data(), data.size());
  finder.params = pelk::level_table[6];
  const uint32_t end = pelk::window_capacity - pelk::min_lookahead;

  for (auto _ : state) {
    std::memset(finder.chain_heads, 0, sizeof finder.chain_heads);
    pelk::prime_hash(finder, 0);
    for (uint32_t p = 0; p < end; ++p) {
      const uint32_t head = pelk::insert_position(finder, p);
      if (p < pelk::half_window || head == 0 || p - head > pelk::max_distance) continue;
      uint32_t match_pos = 0;
      benchmark::DoNotOptimize(pelk::walk_hash_chain(finder, p, head, pelk::min_match - 1, match_pos));
    }
  }
  state.SetItemsProcessed(state.iterations() * (end - pelk::half_window));
}
BENCHMARK(BM_FindBestMatch);

// One block of 4096 symbols (literals and matches drawn from a fixed
// sequence), coded and emitted.
void BM_FinishBlock(benchmark::State& state) {
  discard_output();
  pelk::start_blocks(compressor.block, true);
  std::mt19937 rng(2);
  std::vector<std::pair<uint32_t, uint32_t>> symbols(4096);
  for (auto& [distance, lit_len] : symbols) {
    const bool is_match = rng() % 4 == 0;
    distance = is_match ? 1 + rng() % 32000 : 0;
    lit_len = is_match ? rng() % 256 : 'a' + rng() % 26;
  }
  for (auto _ : state) {
    // Covering one byte, the block never ends early.
    for (const auto& [distance, lit_len] : symbols) pelk::record_symbol(compressor.block, distance, lit_len, 1);
    pelk::finish_block(compressor.block, compressor.out, nullptr, 100000, false);
    benchmark::DoNotOptimize(compressor.block.total_bits);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(symbols.size()));
}
BENCHMARK(BM_FinishBlock);

}  // namespace

BENCHMARK_MAIN();
