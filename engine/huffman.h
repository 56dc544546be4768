// SPDX-License-Identifier: MIT
// Length-limited Huffman codes for one block's frequencies.
#pragma once

#include <cstdint>

#include "engine/block_state.h"
#include "engine/code_tables.h"

namespace pelk {

// What the construction needs to know of an alphabet: its size, its code
// length limit, its extra bits and, for pricing, its fixed code (if any).
struct alphabet {
  const code_entry* fixed;  // fixed code lengths, or null
  const int* extra;         // extra bits, indexed by symbol - extra_start
  int extra_start;          // symbols below this carry no extra bits
  int symbol_count;
  int length_limit;         // longest code allowed
};

inline constexpr alphabet lit_alphabet = {fixed_lit_tree, len_extra_bits, literal_count + 1, lit_symbols,
                                          max_code_bits};
inline constexpr alphabet dist_alphabet = {fixed_dist_tree, dist_extra_bits, 0, dist_symbols, max_code_bits};
inline constexpr alphabet len_alphabet = {nullptr, clen_extra_bits, 0, clen_symbols, max_clen_code_bits};

// Builds the alphabet's code from the frequencies in tree (2 * symbols + 1
// entries): code lengths no longer than the limit in parent_or_len, codes in
// freq_or_code, counts in block.length_counts, and the alphabet's cost under
// this code (and under its fixed code) added to block.opt_bits (and
// block.fixed_bits). Returns the largest symbol with a code.
int build_huffman(block_state& block, code_entry* tree, const alphabet& symbols);

// --- Exposed for tests ------------------------------------------------------
void sift_down(huffman_scratch& scratch, const code_entry* tree, int k);
void limit_lengths(block_state& block, code_entry* tree, const alphabet& symbols, int last);

}  // namespace pelk
