// SPDX-License-Identifier: MIT
// The sequential compressor: one parse, its symbols coded into blocks as
// they come.
#include "engine/engine.h"

#include "engine/block_flush.h"
#include "engine/parse.h"

namespace pelk {
namespace {

// Symbols go straight into the block being collected, which ends where the
// block state says and is emitted at once.
struct block_sink {
  block_state& block;
  bit_writer& out;

  bool record(uint32_t distance, uint32_t lit_len, uint32_t covered) {
    return record_symbol(block, distance, lit_len, covered);
  }
  void end_block(const uint8_t* input, uint32_t length, bool last) {
    finish_block(block, out, input, length, last);
  }
  static constexpr bool at_top(const lazy_state&) { return true; }
  static constexpr void on_slide() {}
};

}  // namespace

void deflate_stream(deflate_compressor& compressor, int level, input_source input) {
  start_blocks(compressor.block, ends_blocks_early(level));
  const uint32_t ahead = match_init(compressor.finder, level, input);
  block_sink sink{compressor.block, compressor.out};
  const parse_position start{.ahead = ahead};
  if (parses_lazily(level)) {
    deflate_lazy(compressor.finder, start, sink);
  } else {
    deflate_greedy(compressor.finder, start, sink);
  }
}

}  // namespace pelk
