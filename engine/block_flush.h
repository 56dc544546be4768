// SPDX-License-Identifier: MIT
// Buffering symbols into blocks, and ending a block in its smallest form.
#pragma once

#include <cstdint>

#include "engine/bit_writer.h"
#include "engine/block_state.h"
#include "engine/code_tables.h"

namespace pelk {

// Whether to end the block early, at a checkpoint, having covered this
// many input bytes: if matches are under half the symbols and a rough price
// (8 bits a symbol, 5 plus extra bits a distance) is under half the input
// covered, the data has changed character enough that fresh codes should
// pay.
bool block_should_end_early(const block_state& block, uint32_t covered);

// Appends one symbol to the block and counts its codes. distance is 0 for a
// literal (lit_len the byte), else the match distance (lit_len: length - 3).
// covered is the input the block spans so far, as the early-end estimate
// measures it. Returns true when the block must end now.
inline bool record_symbol(block_state& block, uint32_t distance, uint32_t lit_len, uint32_t covered) {
  block.lit_buf[block.sym_count++] = static_cast<uint8_t>(lit_len);
  if (distance == 0) {
    ++block.lit_tree[lit_len].freq_or_code;
  } else {
    const uint32_t d = distance - 1;
    ++block.lit_tree[literal_count + 1 + len_to_code[lit_len]].freq_or_code;
    ++block.dist_tree[distance_code(d)].freq_or_code;
    block.dist_buf[block.match_count++] = static_cast<uint16_t>(d);
    block.pending_flags |= block.flag_mask;
  }
  block.flag_mask = static_cast<uint8_t>(block.flag_mask << 1);
  if ((block.sym_count & 7) == 0) {
    block.match_flags[block.flag_count++] = block.pending_flags;
    block.pending_flags = 0;
    block.flag_mask = 1;
  }
  if ((block.sym_count % block_checkpoint) == 0 && block.ends_early && block_should_end_early(block, covered)) {
    return true;
  }
  return block.sym_count == max_block_symbols;
}

// Codes the block and emits it stored, with fixed or with dynamic codes,
// whichever is smallest. block_input is the block's first input byte, or
// null once it is no longer at hand (a slide has discarded it), which rules
// out storing. The last block is followed by alignment to a byte.
void finish_block(block_state& block, bit_writer& out, const uint8_t* block_input, uint32_t block_len,
                  bool is_last);

// Replays the block's symbols with the chosen codes, then end-of-block.
void emit_block_symbols(const block_state& block, bit_writer& out, const code_entry* lit_coding,
                        const code_entry* dist_coding);

}  // namespace pelk
