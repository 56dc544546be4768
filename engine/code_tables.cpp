// Set-up of the code tables: the fixed Huffman codes and the canonical code
// assignment that turns code lengths into codes.
//
// Canonical codes: the first code of each length follows from the counts of
// the shorter lengths, and symbols of one length take consecutive codes in
// increasing symbol order, so a decoder rebuilds the code from the lengths
// alone. Codes are stored bit-reversed because the bit writer sends the
// least significant bit first while deflate sends a Huffman code's most
// significant bit first.
#include "engine/code_tables.h"

#include "container/container.h"
#include "engine/engine.h"

namespace pelk {

code_entry fixed_lit_tree[fixed_lit_symbols];
code_entry fixed_dist_tree[dist_symbols];

namespace {

bool tables_built = false;

void build_fixed_codes() {
  for (auto& count : length_counts) count = 0;
  auto give = [](int from, int to, uint16_t bits) {
    for (int n = from; n <= to; ++n) fixed_lit_tree[n].parent_or_len = bits;
    length_counts[bits] = static_cast<uint16_t>(length_counts[bits] + (to - from + 1));
  };
  give(0, 143, 8);
  give(144, 255, 9);
  give(256, 279, 7);
  give(280, 287, 8);
  // 286 and 287 are never sent but take part, so the code is deflate's.
  assign_codes(fixed_lit_tree, fixed_lit_symbols - 1);

  for (int n = 0; n < dist_symbols; ++n) {
    fixed_dist_tree[n].parent_or_len = 5;
    fixed_dist_tree[n].freq_or_code = static_cast<uint16_t>(reverse_bits(n, 5));
  }
}

}  // namespace

void build_code_tables(const uint16_t* /*attributes*/, const int* /*method*/) {
  total_bits = 0;
  if (tables_built) return;
  tables_built = true;
  build_fixed_codes();
  reset_block();
}

void assign_codes(code_entry* tree, int last) {
  uint16_t code_cursor[max_code_bits + 1];
  uint16_t code = 0;
  for (int bits = 1; bits <= max_code_bits; ++bits) {
    code = static_cast<uint16_t>((code + length_counts[bits - 1]) << 1);
    code_cursor[bits] = code;
  }
  for (int n = 0; n <= last; ++n) {
    const int bits = tree[n].parent_or_len;
    if (bits == 0) continue;
    tree[n].freq_or_code = static_cast<uint16_t>(reverse_bits(code_cursor[bits]++, bits));
  }
}

}  // namespace pelk
