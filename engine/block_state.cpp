// SPDX-License-Identifier: MIT
// The block being collected: its frequencies, buffered symbols and costs.
//
// reset_block clears only what the next block reads before writing: the
// symbol frequencies and the counters. Internal tree nodes, length_counts,
// the Huffman scratch and the buffers' contents are always written before
// they are read, so a block_state left over from any earlier stream starts
// a new one exactly as a zero-filled one does.
#include "engine/block_state.h"

namespace pelk {

// A block's frequencies sum to at most 32767 symbols plus end-of-block, so
// every node of a merge fits the 16-bit frequency field.
static_assert(max_block_symbols + 1 <= 0xFFFF + 1);

void reset_block(block_state& block) {
  for (int n = 0; n < lit_symbols; ++n) block.lit_tree[n].freq_or_code = 0;
  for (int n = 0; n < dist_symbols; ++n) block.dist_tree[n].freq_or_code = 0;
  for (int n = 0; n < clen_symbols; ++n) block.len_tree[n].freq_or_code = 0;
  block.lit_tree[end_of_block].freq_or_code = 1;

  block.opt_bits = 0;
  block.fixed_bits = 0;
  block.sym_count = 0;
  block.match_count = 0;
  block.flag_count = 0;
  block.pending_flags = 0;
  block.flag_mask = 1;
}

void start_blocks(block_state& block, bool ends_early) {
  block.total_bits = 0;
  block.ends_early = ends_early;
  reset_block(block);
}

}  // namespace pelk
