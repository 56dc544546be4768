// The block being collected: its frequencies, buffered symbols and costs.
//
// reset_block clears only what the next block reads before writing: the
// symbol frequencies and the counters. Internal tree nodes, length_counts and
// the buffers' contents are always written before they are read.
#include "engine/block_state.h"

namespace pelk {

code_entry lit_tree[tree_entries(lit_symbols)];
code_entry dist_tree[tree_entries(dist_symbols)];
code_entry len_tree[tree_entries(clen_symbols)];
uint16_t length_counts[max_code_bits + 1];

uint8_t lit_buf[symbol_buffer_size];
uint16_t dist_buf[symbol_buffer_size];
uint8_t match_flags[symbol_buffer_size / 8];

uint32_t sym_count = 0;
uint32_t match_count = 0;
uint32_t flag_count = 0;
uint8_t pending_flags = 0;
uint8_t flag_mask = 1;

uint32_t opt_bits = 0;
uint32_t fixed_bits = 0;
uint64_t total_bits = 0;

// A block's frequencies sum to at most 32767 symbols plus end-of-block, so
// every node of a merge fits the 16-bit frequency field.
static_assert(max_block_symbols + 1 <= 0xFFFF + 1);

void reset_block() {
  for (int n = 0; n < lit_symbols; ++n) lit_tree[n].freq_or_code = 0;
  for (int n = 0; n < dist_symbols; ++n) dist_tree[n].freq_or_code = 0;
  for (int n = 0; n < clen_symbols; ++n) len_tree[n].freq_or_code = 0;
  lit_tree[end_of_block].freq_or_code = 1;

  opt_bits = 0;
  fixed_bits = 0;
  sym_count = 0;
  match_count = 0;
  flag_count = 0;
  pending_flags = 0;
  flag_mask = 1;
}

}  // namespace pelk
