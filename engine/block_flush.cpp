// SPDX-License-Identifier: MIT
// Ending a block: build its codes, price it three ways, emit the smallest.
//
// The price of each form is exact arithmetic on the counts, made before a
// bit is written: the dynamic form (opt_bits) includes the description of
// its codes, the fixed form (fixed_bits) needs none, and the stored form
// costs its LEN/NLEN pair and the raw bytes. Ties go to stored, then to
// fixed, the forms that are cheapest to decode.
//
// A stored block copies its input from the window, so it is only possible
// while the block's first byte is still there.
#include "engine/block_flush.h"

#include "engine/huffman.h"
#include "engine/tree_description.h"

namespace pelk {

bool block_should_end_early(const block_state& block, uint32_t covered) {
  uint32_t estimate = block.sym_count * 8;
  for (int c = 0; c < dist_symbols; ++c) {
    estimate += block.dist_tree[c].freq_or_code * (5u + static_cast<uint32_t>(dist_extra_bits[c]));
  }
  estimate /= 8;
  return block.match_count < block.sym_count / 2 && estimate < covered / 2;
}

void emit_block_symbols(const block_state& block, bit_writer& out, const code_entry* lit_coding,
                        const code_entry* dist_coding) {
  gathered_bits bits(out);
  auto send = [&bits](const code_entry& entry) { bits.add(entry.freq_or_code, entry.parent_or_len); };

  uint32_t flags = 0;
  uint32_t next_distance = 0;
  const uint32_t sym_count = block.sym_count;
  for (uint32_t i = 0; i < sym_count; ++i) {
    if ((i & 7) == 0) flags = block.match_flags[i >> 3];
    const uint32_t lit_len = block.lit_buf[i];
    if ((flags & 1) == 0) {
      send(lit_coding[lit_len]);
    } else {
      // Each code goes out with its extra bits behind it in one field: at
      // most 15 + 5 bits for a length, 15 + 13 for a distance.
      const uint32_t length_code = len_to_code[lit_len];
      const code_entry& length_entry = lit_coding[literal_count + 1 + length_code];
      bits.add(length_entry.freq_or_code |
                   (lit_len - static_cast<uint32_t>(len_base[length_code])) << length_entry.parent_or_len,
               length_entry.parent_or_len + len_extra_bits[length_code]);
      const uint32_t d = block.dist_buf[next_distance++];
      const uint32_t dist_code = distance_code(d);
      const code_entry& dist_entry = dist_coding[dist_code];
      bits.add(dist_entry.freq_or_code | (d - static_cast<uint32_t>(dist_base[dist_code])) << dist_entry.parent_or_len,
               dist_entry.parent_or_len + dist_extra_bits[dist_code]);
    }
    bits.send_whole_bytes();
    flags >>= 1;
  }
  send(lit_coding[end_of_block]);
  bits.finish();
}

void finish_block(block_state& block, bit_writer& out, const uint8_t* block_input, uint32_t block_len,
                  bool is_last) {
  // The last, incomplete group of flags; flag_count stays, so a group that
  // happens to be complete leaves a zero byte here that is never read.
  block.match_flags[block.flag_count] = block.pending_flags;

  block.lit_last_code = build_huffman(block, block.lit_tree, lit_alphabet);
  block.dist_last_code = build_huffman(block, block.dist_tree, dist_alphabet);
  const int k = build_length_tree(block);

  const uint32_t header_bits = 3;
  const uint32_t opt_bytes = (block.opt_bits + header_bits + 7) / 8;
  const uint32_t fixed_bytes = (block.fixed_bits + header_bits + 7) / 8;
  const uint32_t best = fixed_bytes <= opt_bytes ? fixed_bytes : opt_bytes;
  const uint32_t last_bit = is_last ? 1 : 0;

  // LEN is 16 bits. A block whose start is still in the window is shorter
  // than the window, but the test keeps a stored block honest regardless.
  if (block_input != nullptr && block_len <= 0xFFFF && block_len + 4 <= best) {
    emit_bits(out, (block_stored << 1) + last_bit, 3);
    block.total_bits = ((block.total_bits + 3 + 7) & ~uint64_t{7}) + (uint64_t{block_len} + 4) * 8;
    emit_stored(out, block_input, block_len, true);
  } else if (fixed_bytes == best) {
    emit_bits(out, (block_fixed << 1) + last_bit, 3);
    emit_block_symbols(block, out, fixed_lit_tree, fixed_dist_tree);
    block.total_bits += 3 + block.fixed_bits;
  } else {
    emit_bits(out, (block_dynamic << 1) + last_bit, 3);
    emit_tree_header(block, out, block.lit_last_code + 1, block.dist_last_code + 1, k + 1);
    emit_block_symbols(block, out, block.lit_tree, block.dist_tree);
    block.total_bits += 3 + block.opt_bits;
  }

  reset_block(block);
  if (is_last) {
    align_to_byte(out);
    block.total_bits += 7;
  }
}

}  // namespace pelk
