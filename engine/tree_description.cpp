// SPDX-License-Identifier: MIT
// Run coding of code lengths, priced and emitted by one rule.
//
// A tree's lengths 0..last are cut into runs of one value:
//   - a run shorter than its threshold is sent as that many plain lengths;
//   - a run of a nonzero length is sent as the length once (unless it just
//     continues the previous run), then code 16 for 3-6 repeats;
//   - a run of zeros is code 17 (3-10) or code 18 (11-138).
// So a stretch of one nonzero length becomes a first run of at most 7 and
// further runs of at most 6, and zeros runs of at most 138.
//
// Both passes walk the lengths with the same state machine, run_walk below;
// they differ only in what they do when a run closes: count it into len_tree
// or send it. A marker length of 0xFFFF after the last code ends the final
// run exactly at last_code; no real length has that value.
#include "engine/tree_description.h"

#include "engine/bit_writer.h"
#include "engine/huffman.h"

namespace pelk {
namespace {

inline constexpr uint16_t end_marker = 0xFFFF;

// Walks tree[0..last] and calls close_run(length, count, previous) for every
// run, where previous is the length of the run closed before (-1 at first).
template <typename CloseRun>
void run_walk(const code_entry* tree, int last, CloseRun close_run) {
  int previous = -1;
  int next = tree[0].parent_or_len;
  int count = 0;
  int run_limit = next == 0 ? 138 : 7;
  int run_threshold = next == 0 ? 3 : 4;

  for (int n = 0; n <= last; ++n) {
    const int current = next;
    next = tree[n + 1].parent_or_len;
    if (++count < run_limit && current == next) continue;

    close_run(current, count, previous, run_threshold);

    previous = current;
    count = 0;
    if (next == 0) {
      run_limit = 138, run_threshold = 3;
    } else if (current == next) {
      run_limit = 6, run_threshold = 3;  // cut at the limit: code 16 goes on directly
    } else {
      run_limit = 7, run_threshold = 4;  // a new length is sent once before repeats
    }
  }
}

void send_code(const block_state& block, bit_writer& out, int symbol) {
  emit_bits(out, block.len_tree[symbol].freq_or_code, block.len_tree[symbol].parent_or_len);
}

}  // namespace

void count_length_runs(block_state& block, code_entry* tree, int last) {
  tree[last + 1].parent_or_len = end_marker;
  if (last < 0) return;
  code_entry* const len_tree = block.len_tree;
  run_walk(tree, last, [len_tree](int current, int count, int previous, int threshold) {
    auto bump = [len_tree](int symbol, int by) {
      len_tree[symbol].freq_or_code = static_cast<uint16_t>(len_tree[symbol].freq_or_code + by);
    };
    if (count < threshold) {
      bump(current, count);
    } else if (current != 0) {
      if (current != previous) bump(current, 1);
      bump(repeat_previous, 1);
    } else if (count <= 10) {
      bump(repeat_zero_short, 1);
    } else {
      bump(repeat_zero_long, 1);
    }
  });
}

void send_length_runs(const block_state& block, bit_writer& out, const code_entry* tree, int last) {
  if (last < 0) return;
  run_walk(tree, last, [&](int current, int count, int previous, int threshold) {
    if (count < threshold) {
      do send_code(block, out, current); while (--count != 0);
    } else if (current != 0) {
      if (current != previous) {
        send_code(block, out, current);
        --count;
      }
      send_code(block, out, repeat_previous);
      emit_bits(out, static_cast<uint32_t>(count - 3), 2);
    } else if (count <= 10) {
      send_code(block, out, repeat_zero_short);
      emit_bits(out, static_cast<uint32_t>(count - 3), 3);
    } else {
      send_code(block, out, repeat_zero_long);
      emit_bits(out, static_cast<uint32_t>(count - 11), 7);
    }
  });
}

int build_length_tree(block_state& block) {
  count_length_runs(block, block.lit_tree, block.lit_last_code);
  count_length_runs(block, block.dist_tree, block.dist_last_code);
  build_huffman(block, block.len_tree, len_alphabet);

  // Trailing unused code-length codes are left off, but at least four
  // lengths are always sent.
  int k = clen_symbols - 1;
  while (k > 3 && block.len_tree[clen_order[k]].parent_or_len == 0) --k;

  // 3 bits per code-length code length, plus HLIT (5), HDIST (5), HCLEN (4).
  block.opt_bits += 3 * static_cast<uint32_t>(k + 1) + 5 + 5 + 4;
  return k;
}

void emit_tree_header(const block_state& block, bit_writer& out, int lit_sent, int dist_sent, int clen_sent) {
  emit_bits(out, static_cast<uint32_t>(lit_sent - 257), 5);
  emit_bits(out, static_cast<uint32_t>(dist_sent - 1), 5);
  emit_bits(out, static_cast<uint32_t>(clen_sent - 4), 4);
  for (int i = 0; i < clen_sent; ++i) {
    emit_bits(out, block.len_tree[clen_order[i]].parent_or_len, 3);
  }
  send_length_runs(block, out, block.lit_tree, lit_sent - 1);
  send_length_runs(block, out, block.dist_tree, dist_sent - 1);
}

}  // namespace pelk
