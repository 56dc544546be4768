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

#include "engine/code_tables.h"

namespace pelk {

tree_info lit_info = {lit_tree, fixed_lit_tree, len_extra_bits, literal_count + 1,
                      lit_symbols, max_code_bits, 0};
tree_info dist_info = {dist_tree, fixed_dist_tree, dist_extra_bits, 0,
                       dist_symbols, max_code_bits, 0};
tree_info len_info = {len_tree, nullptr, clen_extra_bits, 0,
                      clen_symbols, max_clen_code_bits, 0};

int node_heap[heap_capacity];
int heap_count = 0;
int sorted_start = heap_capacity;
uint8_t node_depth[heap_capacity];

static_assert(heap_capacity == tree_entries(lit_symbols));

namespace {

// Lighter-than: smaller frequency, or equal frequency and no deeper subtree.
bool lighter(const code_entry* tree, int a, int b) {
  return tree[a].freq_or_code < tree[b].freq_or_code ||
         (tree[a].freq_or_code == tree[b].freq_or_code && node_depth[a] <= node_depth[b]);
}

int extra_bits_of(const tree_info* info, int symbol) {
  return symbol >= info->extra_start ? info->extra[symbol - info->extra_start] : 0;
}

}  // namespace

void sift_down(const code_entry* tree, int k) {
  const int v = node_heap[k];
  int j = k << 1;
  while (j <= heap_count) {
    // Of two equally light children the right one is taken.
    if (j < heap_count && lighter(tree, node_heap[j + 1], node_heap[j])) ++j;
    if (lighter(tree, v, node_heap[j])) break;
    node_heap[k] = node_heap[j];
    k = j;
    j <<= 1;
  }
  node_heap[k] = v;
}

void limit_lengths(tree_info* info) {
  code_entry* tree = info->tree;
  const int limit = info->length_limit;
  const int last = info->last_code;

  for (auto& count : length_counts) count = 0;
  int clamped = 0;

  // Parents stand before their children, so a parent's field already holds
  // its length when its children are reached.
  tree[node_heap[sorted_start]].parent_or_len = 0;
  for (int h = sorted_start + 1; h < heap_capacity; ++h) {
    const int n = node_heap[h];
    int bits = tree[tree[n].parent_or_len].parent_or_len + 1;
    if (bits > limit) {
      bits = limit;
      ++clamped;  // internal nodes count too: their subtrees are clamped with them
    }
    tree[n].parent_or_len = static_cast<uint16_t>(bits);
    if (n > last) continue;  // an internal node

    ++length_counts[bits];
    const uint32_t extra = static_cast<uint32_t>(extra_bits_of(info, n));
    const uint32_t freq = tree[n].freq_or_code;
    opt_bits += freq * (static_cast<uint32_t>(bits) + extra);
    if (info->fixed != nullptr) fixed_bits += freq * (info->fixed[n].parent_or_len + extra);
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
      const int m = node_heap[--h];
      if (m > last) continue;
      if (tree[m].parent_or_len != bits) {
        opt_bits += static_cast<uint32_t>((bits - tree[m].parent_or_len) *
                                          static_cast<int>(tree[m].freq_or_code));
        tree[m].parent_or_len = static_cast<uint16_t>(bits);
      }
      --count;
    }
  }
}

void build_huffman(tree_info* info) {
  code_entry* tree = info->tree;
  const int symbols = info->symbol_count;

  heap_count = 0;
  sorted_start = heap_capacity;
  int last = -1;
  for (int n = 0; n < symbols; ++n) {
    if (tree[n].freq_or_code != 0) {
      node_heap[++heap_count] = n;
      node_depth[n] = 0;
      last = n;
    } else {
      tree[n].parent_or_len = 0;
    }
  }

  // Deflate needs at least two codes in a tree (a decoder cannot tell a
  // one-code tree from a damaged one), so symbols of frequency 1 are forced
  // in. Their price is taken off first, since they are never sent.
  while (heap_count < 2) {
    const int forced = last < 2 ? ++last : 0;
    node_heap[++heap_count] = forced;
    tree[forced].freq_or_code = 1;
    node_depth[forced] = 0;
    --opt_bits;
    if (info->fixed != nullptr) fixed_bits -= info->fixed[forced].parent_or_len;
  }
  info->last_code = last;

  for (int k = heap_count / 2; k >= 1; --k) sift_down(tree, k);

  int node = symbols;  // internal nodes are numbered after the leaves
  do {
    const int n = node_heap[1];
    node_heap[1] = node_heap[heap_count--];
    sift_down(tree, 1);
    const int m = node_heap[1];

    node_heap[--sorted_start] = n;
    node_heap[--sorted_start] = m;

    tree[node].freq_or_code = static_cast<uint16_t>(tree[n].freq_or_code + tree[m].freq_or_code);
    node_depth[node] = static_cast<uint8_t>(
        (node_depth[n] >= node_depth[m] ? node_depth[n] : node_depth[m]) + 1);
    tree[n].parent_or_len = tree[m].parent_or_len = static_cast<uint16_t>(node);

    node_heap[1] = node++;
    sift_down(tree, 1);
  } while (heap_count >= 2);
  node_heap[--sorted_start] = node_heap[1];

  limit_lengths(info);
  assign_codes(tree, last);
}

}  // namespace pelk
