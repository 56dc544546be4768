// The state of the deflate block being collected and coded, shared by the
// code tables, the Huffman construction, the tree description and the block
// flusher.
#pragma once

#include <cstdint>

#include "engine/format.h"

namespace pelk {

// One node of a Huffman tree. Each field has two lives:
//   freq_or_code   frequency while counting and building; after the codes
//                  are assigned, the code, bit-reversed, ready for emit_bits
//   parent_or_len  parent's node index while building; then the code length
//                  in bits (0: the symbol has no code)
struct code_entry {
  uint16_t freq_or_code;
  uint16_t parent_or_len;
};

// A tree has room for its symbols (the leaves) and for the internal nodes
// that merging them creates.
constexpr int tree_entries(int symbols) { return 2 * symbols + 1; }

extern code_entry lit_tree[tree_entries(lit_symbols)];
extern code_entry dist_tree[tree_entries(dist_symbols)];
extern code_entry len_tree[tree_entries(clen_symbols)];

// How many symbols of one tree have each code length; entry 0 stays 0.
extern uint16_t length_counts[max_code_bits + 1];

// The block's symbols in order. lit_buf holds a literal byte or a match
// length minus 3; match_flags says which (bit i%8 of byte i/8 set: match);
// dist_buf holds one distance minus 1 per match.
extern uint8_t lit_buf[symbol_buffer_size];
extern uint16_t dist_buf[symbol_buffer_size];
extern uint8_t match_flags[symbol_buffer_size / 8];

extern uint32_t sym_count;    // symbols in the block
extern uint32_t match_count;  // matches in the block
extern uint32_t flag_count;   // complete bytes in match_flags
extern uint8_t pending_flags; // the current, incomplete group of eight
extern uint8_t flag_mask;     // the bit of pending_flags for the next symbol

// Block sizes in bits. opt_bits and fixed_bits price the current block with
// its dynamic and with the fixed codes (modulo 2^32: a build may subtract
// before it adds); total_bits counts what the engine wrote since set-up.
extern uint32_t opt_bits;
extern uint32_t fixed_bits;
extern uint64_t total_bits;

// Starts an empty block: all frequencies 0 except end-of-block, which every
// block sends exactly once.
void reset_block();

}  // namespace pelk
