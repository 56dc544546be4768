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

#include "container/byte_output.h"
#include "container/container.h"
#include "container/crc32.h"
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

void discard_output() {
  static const int null_fd = ::open("/dev/null", O_WRONLY);
  pelk::output_fd = null_fd;
  pelk::bit_writer_init(-1);
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
    for (const auto& [value, length] : fields) pelk::emit_bits(value, length);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(fields.size()));
}
BENCHMARK(BM_EmitBits);

// Searches at every position of the second half of the window, each with
// the chain it would see: the head is the first successor recorded when the
// position was inserted.
void BM_FindBestMatch(benchmark::State& state) {
  const std::vector<uint8_t> data = sample();
  std::memcpy(pelk::window_buf, data.data(), data.size());
  const pelk::level_params& params = pelk::level_table[6];
  pelk::good_enough = params.good_enough;
  pelk::lazy_limit = params.lazy_limit;
  pelk::stop_length = params.stop_length;
  pelk::chain_limit = params.chain_limit;
  std::memset(pelk::chain_heads, 0, sizeof pelk::chain_heads);
  pelk::prime_hash(0);
  const uint32_t end = pelk::window_capacity - pelk::min_lookahead;
  for (uint32_t p = 0; p < end; ++p) pelk::insert_position(p);

  for (auto _ : state) {
    for (uint32_t p = pelk::half_window; p < end; ++p) {
      const uint32_t head = static_cast<uint32_t>(pelk::chain_successors[p] & 0xFFFF);
      if (head == 0 || p - head > pelk::max_distance) continue;
      pelk::scan_pos = p;
      pelk::prev_match_len = pelk::min_match - 1;
      benchmark::DoNotOptimize(pelk::find_best_match(head));
    }
  }
  state.SetItemsProcessed(state.iterations() * (end - pelk::half_window));
}
BENCHMARK(BM_FindBestMatch);

// One block of 4096 symbols (literals and matches drawn from a fixed
// sequence), coded and emitted.
void BM_FinishBlock(benchmark::State& state) {
  discard_output();
  pelk::build_code_tables(nullptr, nullptr);
  std::mt19937 rng(2);
  std::vector<std::pair<uint32_t, uint32_t>> symbols(4096);
  for (auto& [distance, lit_len] : symbols) {
    const bool is_match = rng() % 4 == 0;
    distance = is_match ? 1 + rng() % 32000 : 0;
    lit_len = is_match ? rng() % 256 : 'a' + rng() % 26;
  }
  for (auto _ : state) {
    for (const auto& [distance, lit_len] : symbols) pelk::record_symbol(distance, lit_len);
    benchmark::DoNotOptimize(pelk::finish_block(nullptr, 100000, false));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(symbols.size()));
}
BENCHMARK(BM_FinishBlock);

}  // namespace

BENCHMARK_MAIN();
