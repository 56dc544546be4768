// SPDX-License-Identifier: MIT
// The length and distance maps against RFC 1951's own tables, the fixed
// codes, canonical code assignment, and the start of a block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/code_tables.h"
#include "engine/block_state.h"
#include "tests/support/code_bits.h"

namespace pelk::test {
namespace {

// RFC 1951 section 3.2.5, typed in: each code's base value and extra bits.
constexpr int rfc_len_base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int rfc_len_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int rfc_dist_base[] = {1,    2,    3,    4,    5,    7,     9,     13,    17,   25,
                                 33,   49,   65,   97,   129,  193,   257,   385,   513,  769,
                                 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int rfc_dist_extra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

using coded = std::tuple<int, int, int>;  // code, extra bits, extra value

// Each code covers the values from its base up to the next code's base
// (so length 258 belongs to 285 alone), within its extra bits' reach.
std::vector<coded> rfc_table(const int* base, const int* extra, int codes, int first, int end) {
  std::vector<coded> table(end, coded{-1, -1, -1});
  for (int c = 0; c < codes; ++c) {
    const int stop = std::min(c + 1 < codes ? base[c + 1] : end, base[c] + (1 << extra[c]));
    for (int v = base[c]; v < stop; ++v) table[v] = {first + c, extra[c], v - base[c]};
  }
  return table;
}

coded engine_length(int length) {  // no extra bits, no extra value: 285 has no len_base
  const int c = len_to_code[length - 3];
  return {257 + c, len_extra_bits[c], len_extra_bits[c] == 0 ? 0 : length - 3 - len_base[c]};
}

coded engine_distance(int distance) {
  const uint32_t c = distance_code(distance - 1);
  return {int(c), dist_extra_bits[c], distance - 1 - dist_base[c]};
}

TEST(code_tables, every_length_and_distance_codes_as_rfc_1951_says) {
  const auto lengths = rfc_table(rfc_len_base, rfc_len_extra, 29, 257, 259);
  for (int l = 3; l <= 258; ++l) ASSERT_EQ(engine_length(l), lengths[l]) << "length " << l;
  const auto distances = rfc_table(rfc_dist_base, rfc_dist_extra, 30, 0, 32769);
  for (int d = 1; d <= 32768; ++d) ASSERT_EQ(engine_distance(d), distances[d]) << "distance " << d;

  const std::pair<int, coded> length_edges[] = {
      {3, {257, 0, 0}}, {11, {265, 1, 0}}, {257, {284, 5, 30}}, {258, {285, 0, 0}}};
  for (const auto& [l, want] : length_edges) EXPECT_EQ(engine_length(l), want) << l;
  const std::pair<int, coded> distance_edges[] = {
      {1, {0, 0, 0}},      {5, {4, 1, 0}},    {256, {15, 6, 63}},      {257, {16, 7, 0}},
      {384, {16, 7, 127}}, {385, {17, 7, 0}}, {24576, {28, 13, 8191}}, {32768, {29, 13, 8191}}};
  for (const auto& [d, want] : distance_edges) EXPECT_EQ(engine_distance(d), want) << d;
}

TEST(code_tables, fixed_codes_are_rfc_1951s) {
  const std::pair<int, std::string> listed[] = {
      {0, "00110000"},  {143, "10111111"}, {144, "110010000"}, {255, "111111111"},
      {256, "0000000"}, {279, "0010111"},  {280, "11000000"},  {287, "11000111"}};
  for (const auto& [s, code] : listed) EXPECT_EQ(sent_bits(fixed_lit_tree[s]), code) << s;
  int counts[10] = {};
  for (int s = 0; s < fixed_lit_symbols; ++s) ++counts[fixed_lit_tree[s].parent_or_len];
  EXPECT_EQ((std::vector<int>{counts[7], counts[8], counts[9]}), (std::vector<int>{24, 152, 112}));
  EXPECT_EQ(fixed_lit_tree[0].freq_or_code, 0x0C);
  EXPECT_EQ(fixed_lit_tree[280].freq_or_code, 0x03);
  EXPECT_EQ(sent_bits(fixed_dist_tree[1]), "00001");
  EXPECT_EQ(fixed_dist_tree[1].freq_or_code, 0x10);
  EXPECT_EQ(sent_bits(fixed_dist_tree[29]), "11101");
  EXPECT_EQ(fixed_dist_tree[29].freq_or_code, 0x17);
}

TEST(code_tables, assign_codes_touches_only_coded_entries_up_to_last) {
  code_entry tree[4] = {{111, 0}, {222, 1}, {333, 0}, {444, 1}};
  uint16_t length_counts[max_code_bits + 1] = {};
  length_counts[1] = 2;
  assign_codes(tree, -1, length_counts);
  for (int n = 0; n < 4; ++n) EXPECT_EQ(tree[n].freq_or_code, 111 * (n + 1)) << n;
  assign_codes(tree, 3, length_counts);
  const int assigned[4] = {111, 0, 333, 1};
  for (int n = 0; n < 4; ++n) EXPECT_EQ(tree[n].freq_or_code, assigned[n]) << n;
}

// A block state left in any condition by an earlier stream: starting a
// stream empties the block and clears total_bits; resetting a block
// empties it, all but end-of-block, and keeps total_bits.
TEST(code_tables, start_and_reset_block) {
  auto block = std::make_unique<block_state>();
  std::memset(block.get(), 5, sizeof *block);
  start_blocks(*block, true);
  EXPECT_EQ(block->total_bits, 0u);
  EXPECT_TRUE(block->ends_early);

  for (bool start : {true, false}) {
    std::memset(block.get(), 5, sizeof *block);
    if (start) start_blocks(*block, false); else reset_block(*block);
    for (int n = 0; n < lit_symbols; ++n) EXPECT_EQ(block->lit_tree[n].freq_or_code, n == 256 ? 1 : 0) << n;
    for (int n = 0; n < dist_symbols; ++n) EXPECT_EQ(block->dist_tree[n].freq_or_code, 0) << n;
    for (int n = 0; n < clen_symbols; ++n) EXPECT_EQ(block->len_tree[n].freq_or_code, 0) << n;
    EXPECT_EQ(block->lit_tree[lit_symbols].freq_or_code, 0x0505);  // internal nodes are left alone
    for (uint32_t counter : {block->opt_bits, block->fixed_bits, block->sym_count, block->match_count,
                             block->flag_count}) {
      EXPECT_EQ(counter, 0u);
    }
    EXPECT_EQ(block->pending_flags, 0);
    EXPECT_EQ(block->flag_mask, 1);
    EXPECT_EQ(block->total_bits, start ? 0u : 0x0505050505050505u);
  }
}

}  // namespace
}  // namespace pelk::test
