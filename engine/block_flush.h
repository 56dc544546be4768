// Buffering symbols into blocks, and ending a block in its smallest form.
#pragma once

#include <cstdint>

#include "engine/block_state.h"
#include "engine/code_tables.h"
#include "engine/engine.h"
#include "engine/match_finder.h"

namespace pelk {

// Whether to end the block early: at every checkpoint, if matches are
// under half the symbols and a rough price (8 bits a symbol, 5 plus extra
// bits a distance) is under half the input covered, the data has changed
// character enough that fresh codes should pay.
bool block_should_end_early();

// Appends one symbol to the block and counts its codes. distance is 0 for a
// literal (lit_len the byte), else the match distance (lit_len: length - 3).
// Returns true when the block must end now.
inline bool record_symbol(uint32_t distance, uint32_t lit_len) {
  lit_buf[sym_count++] = static_cast<uint8_t>(lit_len);
  if (distance == 0) {
    ++lit_tree[lit_len].freq_or_code;
  } else {
    const uint32_t d = distance - 1;
    ++lit_tree[literal_count + 1 + len_to_code[lit_len]].freq_or_code;
    ++dist_tree[distance_code(d)].freq_or_code;
    dist_buf[match_count++] = static_cast<uint16_t>(d);
    pending_flags |= flag_mask;
  }
  flag_mask = static_cast<uint8_t>(flag_mask << 1);
  if ((sym_count & 7) == 0) {
    match_flags[flag_count++] = pending_flags;
    pending_flags = 0;
    flag_mask = 1;
  }
  if (compression_level > 2 && (sym_count % block_checkpoint) == 0 && block_should_end_early()) {
    return true;
  }
  return sym_count == max_block_symbols;
}

// Codes the block and emits it stored, with fixed or with dynamic codes,
// whichever is smallest. block_input is the block's first input byte in the
// window, or null once a slide has discarded it (the block then cannot be
// stored). Returns the whole bytes written since set-up.
uint32_t finish_block(const uint8_t* block_input, uint32_t block_len, bool is_last);

// Replays the block's symbols with the chosen codes, then end-of-block.
void emit_block_symbols(const code_entry* lit_coding, const code_entry* dist_coding);

}  // namespace pelk
