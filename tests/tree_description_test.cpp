// SPDX-License-Identifier: MIT
// The run-coded description of a block's codes: the runs chosen for each
// stretch of lengths, and for whole descriptions that the bits written are
// exactly the bits priced and decode, here and in libdeflate, to the trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "engine/engine.h"
#include "engine/huffman.h"
#include "engine/tree_description.h"
#include "support/test_support.h"

namespace pelk::test {
namespace {

struct bit_reader {
  bytes data;
  size_t pos = 0;
  int bit(size_t i) const { return i / 8 < data.size() ? data[i / 8] >> (i % 8) & 1 : 0; }
  uint32_t take(int n) {  // least significant bit first
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint32_t(bit(pos++)) << i;
    return v;
  }
  size_t end_mark() const {
    size_t p = data.size() * 8 - 1;
    while (p > 0 && !bit(p)) --p;
    return p;
  }
};

const std::unique_ptr<deflate_compressor> compressor = std::make_unique<deflate_compressor>();
block_state& b = compressor->block;
bit_writer& out = compressor->out;

// What emit writes on a fresh bit writer, then a 1 bit marking its end.
bit_reader capture(const std::function<void()>& emit) {
  bytes written;
  start_output(out, {append_bytes, &written});
  emit();
  emit_bits(out, 1, 1);
  align_to_byte(out);
  flush_output(out);
  return {written};
}

// One symbol of the canonical code with these lengths (RFC 1951 section
// 3.2.2): the codes of each length follow on from those of the shorter ones.
int decode(bit_reader& in, const std::vector<int>& lengths) {
  for (int len = 1, code = 0, first = 0; len <= 15; ++len, code <<= 1) {
    code |= int(in.take(1));
    const int count = int(std::count(lengths.begin(), lengths.end(), len));
    if (code - first < count) {  // the (code - first)-th symbol of this length
      for (int s = 0, k = code - first;; ++s) if (lengths[s] == len && k-- == 0) return s;
    }
    first = (first + count) << 1;
  }
  return -1;
}

using run = std::pair<int, int>;  // code-length symbol, value of its extra bits

// Reads run-coded lengths onto the end of lengths until it holds want.
std::vector<run> read_runs(bit_reader& in, const std::vector<int>& clen, size_t want,
                           std::vector<int>& lengths) {
  std::vector<run> sent;
  while (lengths.size() < want) {
    const int s = decode(in, clen);
    if (s < 0 || (s == 16 && lengths.empty())) {
      ADD_FAILURE() << "undecodable at bit " << in.pos;
      break;
    }
    const int extra = s < 16 ? 0 : int(in.take(s == 16 ? 2 : s == 17 ? 3 : 7));
    sent.push_back({s, extra});
    const int repeats = s < 16 ? 1 : extra + (s == 18 ? 11 : 3);
    lengths.insert(lengths.end(), repeats, s < 16 ? s : s == 16 ? lengths.back() : 0);
  }
  return sent;
}

std::vector<int> lengths_of(const code_entry* tree, int count) {
  std::vector<int> lengths;
  for (int n = 0; n < count; ++n) lengths.push_back(tree[n].parent_or_len);
  return lengths;
}

// Counts and sends lengths as one tree and returns the runs sent, which must
// be the runs counted and must decode back to the lengths.
std::vector<run> sent_runs(const std::vector<int>& lengths) {
  start_blocks(b, true);
  for (size_t n = 0; n < lengths.size(); ++n) b.lit_tree[n].parent_or_len = uint16_t(lengths[n]);
  const int last = int(lengths.size()) - 1;
  count_length_runs(b, b.lit_tree, last);
  std::vector<int> counted(clen_symbols), decoded;
  for (int s = 0; s < clen_symbols; ++s) counted[s] = b.len_tree[s].freq_or_code;
  build_huffman(b, b.len_tree, len_alphabet);
  bit_reader in = capture([&] { send_length_runs(b, out, b.lit_tree, last); });
  const std::vector<int> clen = lengths_of(b.len_tree, clen_symbols);
  const std::vector<run> sent = read_runs(in, clen, lengths.size(), decoded);
  for (const run& r : sent) --counted[r.first];
  EXPECT_EQ(decoded, lengths);
  EXPECT_EQ(counted, std::vector<int>(clen_symbols));
  EXPECT_EQ(in.pos, in.end_mark());
  return sent;
}

TEST(tree_description, runs_are_cut_and_coded_as_designed) {
  const int L = 5;
  const std::vector<std::pair<int, std::vector<run>>> nonzero = {
      {1, {{L, 0}}}, {2, {{L, 0}, {L, 0}}}, {3, {{L, 0}, {L, 0}, {L, 0}}}, {4, {{L, 0}, {16, 0}}},
      {5, {{L, 0}, {16, 1}}}, {6, {{L, 0}, {16, 2}}}, {7, {{L, 0}, {16, 3}}},
      {8, {{L, 0}, {16, 3}, {L, 0}}}, {9, {{L, 0}, {16, 3}, {L, 0}, {L, 0}}},
      {10, {{L, 0}, {16, 3}, {16, 0}}}, {11, {{L, 0}, {16, 3}, {16, 1}}},
      {12, {{L, 0}, {16, 3}, {16, 2}}}, {13, {{L, 0}, {16, 3}, {16, 3}}}};
  const std::vector<std::pair<int, std::vector<run>>> zeros = {
      {1, {{0, 0}}}, {2, {{0, 0}, {0, 0}}}, {3, {{17, 0}}}, {10, {{17, 7}}}, {11, {{18, 0}}},
      {138, {{18, 127}}}, {139, {{18, 127}, {0, 0}}}, {140, {{18, 127}, {0, 0}, {0, 0}}},
      {141, {{18, 127}, {17, 0}}}, {149, {{18, 127}, {18, 0}}}};
  // Each at the start of a tree and after a different length (2); a final 3
  // ends the zeros.
  for (const bool after_2 : {false, true}) {
    for (const auto* table : {&nonzero, &zeros}) {
      for (const auto& [count, runs] : *table) {
        std::vector<int> lengths(after_2 ? 1 : 0, 2);
        std::vector<run> want(after_2 ? 1 : 0, run{2, 0});
        lengths.insert(lengths.end(), count, table == &zeros ? 0 : L);
        want.insert(want.end(), runs.begin(), runs.end());
        if (table == &zeros) lengths.push_back(3), want.push_back({3, 0});
        EXPECT_EQ(sent_runs(lengths), want) << count << (table == &zeros ? " zeros" : " fives");
      }
    }
  }
  for (int count = 1; count <= 290; ++count) sent_runs(std::vector<int>(count, count % 2 ? 0 : 7));
}

// Prices the description of the block's lit_tree and dist_tree and returns k, after
// checking that the description takes the bits priced and that libdeflate
// reads it, in a final dynamic block, as codes in which each literal that
// has a code decodes to itself.
int describe_block() {
  const uint32_t before = b.opt_bits;
  const int k = build_length_tree(b);
  bytes literals;
  size_t literal_bits = 0;
  bit_reader in = capture([&] {
    emit_bits(out, 1 | block_dynamic << 1, 3);
    emit_tree_header(b, out, b.lit_last_code + 1, b.dist_last_code + 1, k + 1);
    for (int n = 0; n <= end_of_block; ++n) {
      if (b.lit_tree[n].parent_or_len == 0) continue;
      emit_bits(out, b.lit_tree[n].freq_or_code, b.lit_tree[n].parent_or_len);
      literal_bits += b.lit_tree[n].parent_or_len;
      if (n < end_of_block) literals.push_back(uint8_t(n));
    }
  });
  EXPECT_EQ(in.end_mark() - 3 - literal_bits, b.opt_bits - before) << "bits written, bits priced";
  EXPECT_EQ(inflate_raw(in.data, 0, literals.size(), nullptr), literals) << "libdeflate reads";
  return k;
}

TEST(tree_description, empty_block) {
  start_blocks(b, true);
  b.lit_last_code = build_huffman(b, b.lit_tree, lit_alphabet);
  b.dist_last_code = build_huffman(b, b.dist_tree, dist_alphabet);
  const std::vector<int> lit = lengths_of(b.lit_tree, 257), dist = lengths_of(b.dist_tree, 2);
  b.opt_bits = 0;
  EXPECT_EQ(describe_block(), 17);
  EXPECT_EQ(b.opt_bits, 20u + 68u);
  std::vector<int> want_clen(clen_symbols);
  want_clen[1] = want_clen[18] = 1;  // code 1 four times, code 18 twice
  EXPECT_EQ(lengths_of(b.len_tree, clen_symbols), want_clen);
  EXPECT_EQ(sent_runs(lit), (std::vector<run>{{1, 0}, {18, 127}, {18, 106}, {1, 0}}));
  EXPECT_EQ(sent_runs(dist), (std::vector<run>{{1, 0}, {1, 0}}));
}

TEST(tree_description, random_trees_emit_exactly_what_was_priced) {
  std::mt19937 rng(7151);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    start_blocks(b, true);
    // Few distinct frequencies in odd rounds, so lengths repeat in long runs.
    const uint32_t keep = 1 + rng() % 100, range = 1 + rng() % (round % 2 ? 3 : 300);
    for (int n = 0; n < lit_symbols + dist_symbols; ++n) {
      code_entry& e = n < lit_symbols ? b.lit_tree[n] : b.dist_tree[n - lit_symbols];
      if (rng() % 100 < keep) e.freq_or_code = uint16_t(1 + rng() % range);
    }
    b.lit_last_code = build_huffman(b, b.lit_tree, lit_alphabet);
    b.dist_last_code = build_huffman(b, b.dist_tree, dist_alphabet);
    describe_block();
  }
}

TEST(tree_description, at_least_four_code_length_lengths_are_sent) {
  // Trees of zeros use only 17 and 18, the second and third codes sent.
  start_blocks(b, true);
  for (int n = 0; n < 11; ++n) b.lit_tree[n].parent_or_len = b.dist_tree[n].parent_or_len = 0;
  b.lit_last_code = 2;
  b.dist_last_code = 10;
  b.opt_bits = 0;
  EXPECT_EQ(build_length_tree(b), 3);
  EXPECT_EQ(b.opt_bits, (1u + 3) + (1 + 7) + 3 * 4 + 14);  // 17(0), 18(0), four lengths, three counts
}

}  // namespace
}  // namespace pelk::test
