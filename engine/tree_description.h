// SPDX-License-Identifier: MIT
// The description of a dynamic block's two codes: their code lengths,
// run-length coded with the code-length alphabet, which has a Huffman code of
// its own.
#pragma once

#include "engine/bit_writer.h"
#include "engine/block_state.h"

namespace pelk {

// Counting pass, run for every block before its form is chosen: counts the
// run-coded lengths of both trees into len_tree, builds len_tree and adds the
// description's whole cost to opt_bits. Returns k, the index in clen_order of
// the last code-length code length that will be sent (3..18).
int build_length_tree(block_state& block);

// Emitting pass, only for a block sent with dynamic codes: writes exactly
// the bits the counting pass priced.
void emit_tree_header(const block_state& block, bit_writer& out, int lit_sent, int dist_sent, int clen_sent);

// --- Exposed for tests ------------------------------------------------------
void count_length_runs(block_state& block, code_entry* tree, int last);
void send_length_runs(const block_state& block, bit_writer& out, const code_entry* tree, int last);

}  // namespace pelk
