// SPDX-License-Identifier: MIT
// Length-limited Huffman construction: the exact codes of hand-checked
// frequency sets, where every tie-break shows, then properties of the codes
// built for many random sets of all three alphabets.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <queue>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/huffman.h"
#include "tests/support/code_bits.h"

namespace pelk::test {
namespace {

// "3 1 1" gives symbols 0, 1 and 2 their values; "65:3" symbol 65 its value.
std::map<int, std::string> by_symbol(const std::string& text) {
  std::map<int, std::string> values;
  std::istringstream in(text);
  int next = 0;
  for (std::string token; in >> token; ++next) {
    if (const size_t colon = token.find(':'); colon != std::string::npos) {
      next = std::stoi(token.substr(0, colon)), token.erase(0, colon + 1);
    }
    values[next] = token;
  }
  return values;
}

// One block state for every build, as in the engine, so each build meets the
// leftovers of the others in the shared working storage.
const std::unique_ptr<block_state> shared = std::make_unique<block_state>();
int last_code = -1;  // of the last build

code_entry* tree_of(const alphabet* info) {
  return info == &lit_alphabet ? shared->lit_tree : info == &dist_alphabet ? shared->dist_tree : shared->len_tree;
}

// Builds the alphabet's code for freq in a fresh block, both totals starting
// at 0; returns their growth (modulo 2^32, as the engine keeps them).
std::pair<uint32_t, uint32_t> build(const alphabet* info, const std::vector<int>& freq) {
  start_blocks(*shared, true);
  code_entry* tree = tree_of(info);
  for (int n = 0; n < info->symbol_count; ++n) tree[n].freq_or_code = uint16_t(freq[n]);
  last_code = build_huffman(*shared, tree, *info);
  return {shared->opt_bits, shared->fixed_bits};
}

TEST(huffman, hand_checked_sets_give_exact_codes_and_costs) {
  const struct {
    const alphabet* info;
    const char *freq, *codes;  // by symbol, see by_symbol
    int last_code;
    uint32_t opt, fixed;  // growth of opt_bits and fixed_bits
  } cases[] = {
      {&dist_alphabet, "", "0 1", 1, 0, 0},  // symbols 0 and 1 forced, at no cost
      {&dist_alphabet, "7", "0 1", 1, 7, 35},
      {&dist_alphabet, "1:5", "1:0 1", 2, 5, 25},
      {&dist_alphabet, "3:4", "0 3:1", 3, 4, 20},
      {&lit_alphabet, "256:1", "0 256:1", 256, 1, 7},
      {&lit_alphabet, "65:3 256:1 265:2", "65:0 256:10 265:11", 265, 11, 47},
      {&len_alphabet, "2 1 1", "0 10 11", 2, 6, 0},
      {&len_alphabet, "1 1 2", "10 11 0", 2, 6, 0},
      {&len_alphabet, "1 1 1 1", "00 01 10 11", 3, 8, 0},
      {&len_alphabet, "3 1 1 1 1 1", "00 100 101 01 110 111", 5, 20, 0},
      {&len_alphabet, "1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1",  // 82 code bits, 12 extra bits
       "0000 0001 0010 0011 0100 0101 11010 0110 0111 11011 11100 1000 1001 1010 11101 11110 "
       "11111 1011 1100", 18, 94, 0},
      {&len_alphabet, "1 1 2 3 5 8 13 21 34 55",  // limited: depth 9 cut back to 7
       "1111100 1111101 1111110 1111111 111100 111101 1110 110 10 0", 9, 365, 0},
      {&len_alphabet, "1 1 2 3 5 8 13 21 34", "1111100 1111101 1111110 1111111 11110 1110 110 10 0",
       8, 221, 0},
      // Limited; 7 and 4 are merged first as a pair, and 7, the lighter, gets the longer code.
      {&len_alphabet, "9 45 26 4 4 1 2 3 1 20",
       "1110 0 10 111100 111101 1111100 1111101 1111110 1111111 110", 9, 290, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freq);
    std::vector<int> freq(c.info->symbol_count);
    for (const auto& [s, f] : by_symbol(c.freq)) freq[s] = std::stoi(f);
    EXPECT_EQ(build(c.info, freq), std::make_pair(c.opt, c.fixed));
    auto want = by_symbol(c.codes);
    for (int s = 0; s < c.info->symbol_count; ++s) {
      EXPECT_EQ(sent_bits(tree_of(c.info)[s]), want[s]) << s;
    }
    EXPECT_EQ(last_code, c.last_code);
  }
}

// Cost and height of an unrestricted Huffman code, merging the lightest
// nodes with ties going to the lower tree, which makes the height the least
// of all optimal codes.
std::pair<uint64_t, int> unrestricted_huffman(const std::vector<int>& freq) {
  std::priority_queue<std::pair<int, int>, std::vector<std::pair<int, int>>, std::greater<>> heap;
  for (int f : freq) if (f != 0) heap.push({f, 0});
  uint64_t cost = 0;
  while (heap.size() > 1) {
    const auto a = heap.top(); heap.pop();
    const auto b = heap.top(); heap.pop();
    cost += a.first + b.first;  // every leaf below goes one level deeper
    heap.push({a.first + b.first, std::max(a.second, b.second) + 1});
  }
  return {cost, heap.top().second};
}

// Flat or geometric weights over a random share of the symbols, or one or
// two used symbols (forced codes), or Fibonacci weights deep enough to need
// the limit. Sums stay below a block's 32768 symbols.
std::vector<int> random_frequencies(std::mt19937& rng, int symbols) {
  std::vector<int> freq(symbols);
  const uint32_t mode = rng() % 4, keep = 1 + rng() % 100;  // percent of symbols used
  int fib[2] = {1, 1};
  for (int n = 0; n < symbols && mode != 1; ++n) {
    if (rng() % 100 >= keep) continue;
    if (mode == 3 && fib[0] > 6765) break;  // 20 terms, 19 levels deep
    freq[n] = mode == 0 ? int(1 + rng() % 60) : mode == 2 ? 1 << rng() % 7 : fib[0];
    if (mode == 3) fib[0] += fib[1], std::swap(fib[0], fib[1]);
  }
  for (uint32_t k = mode == 1 ? rng() % 3 : 0; k > 0; --k) {
    freq[rng() % symbols] = int(1 + rng() % 9);
  }
  while (std::accumulate(freq.begin(), freq.end(), 0) > 32000) {
    for (int& f : freq) f -= f / 2 * (f > 1);
  }
  std::shuffle(freq.begin(), freq.end(), rng);
  return freq;
}

TEST(huffman, random_sets_give_complete_canonical_limited_codes) {
  std::mt19937 rng(20240603);
  int limited[3] = {}, unlimited[3] = {};  // by alphabet
  // Interleaved as in the engine's blocks, so each build meets the leftovers
  // of the others in the shared working storage.
  for (int round = 0; round < 400; ++round) {
    for (int a = 0; a < 3; ++a) {
      const alphabet* info = a == 0 ? &lit_alphabet : a == 1 ? &dist_alphabet : &len_alphabet;
      SCOPED_TRACE(::testing::Message() << "alphabet " << info->symbol_count << " round " << round);
      const std::vector<int> freq = random_frequencies(rng, info->symbol_count);
      const auto totals = build(info, freq);
      code_entry* tree = tree_of(info);
      const int limit = info->length_limit;

      // Nothing carries over from one build to the next: the same set built
      // over scribbled working storage gives the same code.
      const std::vector<code_entry> first(tree, tree + info->symbol_count);
      for (auto& d : shared->scratch.node_depth) d = uint8_t(rng());
      for (auto& h : shared->scratch.node_heap) h = int(rng() % heap_capacity);
      for (int n = info->symbol_count; n <= 2 * info->symbol_count; ++n) tree[n] = {uint16_t(rng()), 0};
      ASSERT_EQ(build(info, freq), totals);
      for (int s = 0; s < info->symbol_count; ++s) {
        ASSERT_EQ(sent_bits(tree[s]), sent_bits(first[s])) << s;
      }

      const int used = int(std::count_if(freq.begin(), freq.end(), [](int f) { return f != 0; }));
      int forced = 0, last = -1, longest = 0;
      uint64_t kraft = 0, opt = 0, fixed = 0, code_cost = 0;
      std::vector<int> count(limit + 1), next(limit + 1);
      for (int s = 0; s < info->symbol_count; ++s) {
        const int len = tree[s].parent_or_len;
        ASSERT_LE(len, limit) << s;
        if (len != 0) last = s, ++count[len], kraft += 1u << (limit - len);
        longest = std::max(longest, len);
        if (freq[s] == 0) {
          forced += len != 0;
          continue;
        }
        ASSERT_NE(len, 0) << s;
        const int x = s >= info->extra_start ? info->extra[s - info->extra_start] : 0;
        opt += uint64_t(freq[s]) * (len + x);
        if (info->fixed != nullptr) fixed += uint64_t(freq[s]) * (info->fixed[s].parent_or_len + x);
        code_cost += uint64_t(freq[s]) * len;
      }
      EXPECT_EQ(forced, std::max(2 - used, 0));
      EXPECT_EQ(last_code, last);
      EXPECT_EQ(kraft, 1u << limit);
      EXPECT_EQ(totals, std::make_pair(uint32_t(opt), uint32_t(fixed)));

      // Canonical codes after RFC 1951 section 3.2.2, then prefix-freeness.
      for (int b = 1, code = 0; b <= limit; ++b) next[b] = code = (code + count[b - 1]) << 1;
      std::vector<std::string> codes;
      for (int s = 0; s < info->symbol_count; ++s) {
        if (const int len = tree[s].parent_or_len; len != 0) {
          std::string want;
          for (int i = len - 1; i >= 0; --i) want += char('0' + ((next[len] >> i) & 1));
          ++next[len];
          ASSERT_EQ(sent_bits(tree[s]), want) << s;
          codes.push_back(want);
        }
      }
      std::sort(codes.begin(), codes.end());
      for (size_t i = 1; i < codes.size(); ++i) ASSERT_NE(codes[i].rfind(codes[i - 1], 0), 0u);

      if (used < 2) continue;
      const auto [best_cost, height] = unrestricted_huffman(freq);
      if (height <= limit) {
        ++unlimited[a];
        EXPECT_EQ(code_cost, best_cost);
        EXPECT_EQ(longest, height);  // ties to the shallower keep the code short
      } else {
        ++limited[a];
        EXPECT_GE(code_cost, best_cost);
      }
    }
  }
  for (int a = 0; a < 3; ++a) {  // the generator exercises both paths
    EXPECT_GT(limited[a], 20) << a;
    EXPECT_GT(unlimited[a], 20) << a;
  }
}

}  // namespace
}  // namespace pelk::test
