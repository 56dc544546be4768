// SPDX-License-Identifier: MIT
// Huffman construction with a length limit.
//
// Algorithm. The used symbols go into a min-heap ordered by frequency, ties
// going to the shallower subtree (which keeps codes short when frequencies
// are equal). The two lightest nodes are merged until one remains; each
// node taken out is also recorded from the top of node_heap downwards, so
// that list ends up parents-before-children, root first, with the lightest
// leaves last. Walking that list gives every node its depth in one pass.
//
// The limit. A node deeper than the limit is clamped to it, which leaves
// the code over-subscribed: each clamped node adds to the sum of 2^-length
// over the leaves. The repair works on the counts alone: it turns a leaf of
// the deepest length below the limit into an internal node with two
// children, that leaf and one leaf from the limit length, until the sum is
// exactly 1 again. The lengths are then dealt out afresh, longest first, to
// the leaves in the order the merge took them out, lightest first.
//
// Every tie-break here decides output bytes.
#include "engine/huffman.h"

namespace pelk {
namespace {

// Lighter-than: smaller frequency, or equal frequency and no deeper subtree.
bool lighter(const huffman_scratch& scratch, const code_entry* tree, int a, int b) {
  return tree[a].freq_or_code < tree[b].freq_or_code ||
         (tree[a].freq_or_code == tree[b].freq_or_code && scratch.node_depth[a] <= scratch.node_depth[b]);
}

int extra_bits_of(const alphabet& symbols, int symbol) {
  return symbol >= symbols.extra_start ? symbols.extra[symbol - symbols.extra_start] : 0;
}

}  // namespace

void sift_down(huffman_scratch& scratch, const code_entry* tree, int k) {
  int* const heap = scratch.node_heap;
  const int v = heap[k];
  int j = k << 1;
  while (j <= scratch.heap_count) {
    // Of two equally light children the right one is taken.
    if (j < scratch.heap_count && lighter(scratch, tree, heap[j + 1], heap[j])) ++j;
    if (lighter(scratch, tree, v, heap[j])) break;
    heap[k] = heap[j];
    k = j;
    j <<= 1;
  }
  heap[k] = v;
}

void limit_lengths(block_state& block, code_entry* tree, const alphabet& symbols, int last) {
  const huffman_scratch& scratch = block.scratch;
  const int limit = symbols.length_limit;
  uint16_t* const length_counts = block.length_counts;

  for (int bits = 0; bits <= max_code_bits; ++bits) length_counts[bits] = 0;
  int clamped = 0;

  // Parents stand before their children, so a parent's field already holds
  // its length when its children are reached.
  tree[scratch.node_heap[scratch.sorted_start]].parent_or_len = 0;
  for (int h = scratch.sorted_start + 1; h < heap_capacity; ++h) {
    const int n = scratch.node_heap[h];
    int bits = tree[tree[n].parent_or_len].parent_or_len + 1;
    if (bits > limit) {
      bits = limit;
      ++clamped;  // internal nodes count too: their subtrees are clamped with them
    }
    tree[n].parent_or_len = static_cast<uint16_t>(bits);
    if (n > last) continue;  // an internal node

    ++length_counts[bits];
    const uint32_t extra = static_cast<uint32_t>(extra_bits_of(symbols, n));
    const uint32_t freq = tree[n].freq_or_code;
    block.opt_bits += freq * (static_cast<uint32_t>(bits) + extra);
    if (symbols.fixed != nullptr) block.fixed_bits += freq * (symbols.fixed[n].parent_or_len + extra);
  }
  if (clamped == 0) return;

  // Each step lowers the over-subscription by one leaf of the limit length;
  // clamping always leaves an even number of such steps to do. A shorter
  // length is always found: no alphabet has 2^limit symbols.
  do {
    int bits = limit - 1;
    while (length_counts[bits] == 0) --bits;
    --length_counts[bits];
    length_counts[bits + 1] = static_cast<uint16_t>(length_counts[bits + 1] + 2);
    --length_counts[limit];
    clamped -= 2;
  } while (clamped > 0);

  int h = heap_capacity;
  for (int bits = limit; bits != 0; --bits) {
    int count = length_counts[bits];
    while (count != 0) {
      const int m = scratch.node_heap[--h];
      if (m > last) continue;
      if (tree[m].parent_or_len != bits) {
        block.opt_bits += static_cast<uint32_t>((bits - tree[m].parent_or_len) *
                                                static_cast<int>(tree[m].freq_or_code));
        tree[m].parent_or_len = static_cast<uint16_t>(bits);
      }
      --count;
    }
  }
}

int build_huffman(block_state& block, code_entry* tree, const alphabet& symbols) {
  huffman_scratch& scratch = block.scratch;
  int* const heap = scratch.node_heap;
  const int symbol_count = symbols.symbol_count;

  scratch.heap_count = 0;
  scratch.sorted_start = heap_capacity;
  int last = -1;
  for (int n = 0; n < symbol_count; ++n) {
    if (tree[n].freq_or_code != 0) {
      heap[++scratch.heap_count] = n;
      scratch.node_depth[n] = 0;
      last = n;
    } else {
      tree[n].parent_or_len = 0;
    }
  }

  // Deflate needs at least two codes in a tree (a decoder cannot tell a
  // one-code tree from a damaged one), so symbols of frequency 1 are forced
  // in. Their price is taken off first, since they are never sent.
  while (scratch.heap_count < 2) {
    const int forced = last < 2 ? ++last : 0;
    heap[++scratch.heap_count] = forced;
    tree[forced].freq_or_code = 1;
    scratch.node_depth[forced] = 0;
    --block.opt_bits;
    if (symbols.fixed != nullptr) block.fixed_bits -= symbols.fixed[forced].parent_or_len;
  }

  for (int k = scratch.heap_count / 2; k >= 1; --k) sift_down(scratch, tree, k);

  int node = symbol_count;  // internal nodes are numbered after the leaves
  do {
    const int n = heap[1];
    heap[1] = heap[scratch.heap_count--];
    sift_down(scratch, tree, 1);
    const int m = heap[1];

    heap[--scratch.sorted_start] = n;
    heap[--scratch.sorted_start] = m;

    tree[node].freq_or_code = static_cast<uint16_t>(tree[n].freq_or_code + tree[m].freq_or_code);
    scratch.node_depth[node] = static_cast<uint8_t>(
        (scratch.node_depth[n] >= scratch.node_depth[m] ? scratch.node_depth[n] : scratch.node_depth[m]) + 1);
    tree[n].parent_or_len = tree[m].parent_or_len = static_cast<uint16_t>(node);

    heap[1] = node++;
    sift_down(scratch, tree, 1);
  } while (scratch.heap_count >= 2);
  heap[--scratch.sorted_start] = heap[1];

  limit_lengths(block, tree, symbols, last);
  assign_codes(tree, last, block.length_counts);
  return last;
}

}  // namespace pelk
