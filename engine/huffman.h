// Length-limited Huffman codes for one block's frequencies.
#pragma once

#include <cstdint>

#include "engine/block_state.h"

namespace pelk {

// One alphabet: its dynamic tree, its fixed code (if any) for pricing, and
// its extra-bit counts.
struct tree_info {
  code_entry* tree;          // 2 * symbol_count + 1 entries
  const code_entry* fixed;   // fixed code lengths, or null
  const int* extra;          // extra bits, indexed by symbol - extra_start
  int extra_start;           // symbols below this carry no extra bits
  int symbol_count;
  int length_limit;          // longest code allowed
  int last_code;             // largest symbol with a code in this block
};

extern tree_info lit_info;
extern tree_info dist_info;
extern tree_info len_info;

// Builds the alphabet's code from the frequencies in its tree: code lengths
// no longer than the limit in parent_or_len, codes in freq_or_code, counts
// in length_counts, last_code set, and the alphabet's cost under this code
// (and under its fixed code) added to opt_bits (and fixed_bits).
void build_huffman(tree_info* info);

// --- Exposed for tests ------------------------------------------------------

inline constexpr int heap_capacity = 2 * 286 + 1;
extern int node_heap[heap_capacity];
extern int heap_count;
extern int sorted_start;
extern uint8_t node_depth[heap_capacity];

void sift_down(const code_entry* tree, int k);
void limit_lengths(tree_info* info);

}  // namespace pelk
