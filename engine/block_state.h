// SPDX-License-Identifier: MIT
// The deflate block being collected and coded: its frequencies, buffered
// symbols, trees and costs, shared by the code tables, the Huffman
// construction, the tree description and the block flusher.
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

// The Huffman construction's working space: a heap of node indices whose
// upper end collects the nodes in the order the merge takes them out, and
// each node's subtree depth for tie-breaks.
inline constexpr int heap_capacity = tree_entries(lit_symbols);
struct huffman_scratch {
  int node_heap[heap_capacity];
  int heap_count;
  int sorted_start;
  uint8_t node_depth[heap_capacity];
};

struct block_state {
  code_entry lit_tree[tree_entries(lit_symbols)];
  code_entry dist_tree[tree_entries(dist_symbols)];
  code_entry len_tree[tree_entries(clen_symbols)];

  // How many symbols of one tree have each code length; entry 0 stays 0.
  uint16_t length_counts[max_code_bits + 1];

  // The largest symbol with a code in the block, per tree, once built.
  int lit_last_code;
  int dist_last_code;

  // The block's symbols in order. lit_buf holds a literal byte or a match
  // length minus 3; match_flags says which (bit i%8 of byte i/8 set: match);
  // dist_buf holds one distance minus 1 per match.
  uint8_t lit_buf[symbol_buffer_size];
  uint16_t dist_buf[symbol_buffer_size];
  uint8_t match_flags[symbol_buffer_size / 8];

  uint32_t sym_count;    // symbols in the block
  uint32_t match_count;  // matches in the block
  uint32_t flag_count;   // complete bytes in match_flags
  uint8_t pending_flags; // the current, incomplete group of eight
  uint8_t flag_mask;     // the bit of pending_flags for the next symbol
  bool ends_early;       // blocks may end early (all but the two fastest levels)

  // Block sizes in bits. opt_bits and fixed_bits price the current block
  // with its dynamic and with the fixed codes (modulo 2^32: a build may
  // subtract before it adds); total_bits counts what the engine wrote since
  // it started.
  uint32_t opt_bits;
  uint32_t fixed_bits;
  uint64_t total_bits;

  huffman_scratch scratch;
};

// Starts an empty block: all frequencies 0 except end-of-block, which every
// block sends exactly once.
void reset_block(block_state& block);

// Starts a stream: an empty block, nothing written.
void start_blocks(block_state& block, bool ends_early);

}  // namespace pelk
