// SPDX-License-Identifier: MIT
// Deflate's length and distance codes, their extra bits, and the fixed
// Huffman codes.
#pragma once

#include <array>
#include <cstdint>

#include "engine/bit_writer.h"
#include "engine/block_state.h"
#include "engine/format.h"

namespace pelk {

// Extra bits of length code c (symbol 257 + c). Length 258 has its own code,
// 285, without extra bits.
inline constexpr int len_extra_bits[length_codes] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

inline constexpr int dist_extra_bits[dist_symbols] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

inline constexpr int clen_extra_bits[clen_symbols] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// --- Maps from a match to its codes -----------------------------------------
//
// Lengths: len_to_code[length - 3] is the length code index. Distances:
// with d = distance - 1, dist_to_code[d] for d < 256, otherwise
// dist_to_code[256 + (d >> 7)]. Every distance code from 16 on starts at a
// multiple of 128 and spans at least 128 distances, so the long distances
// can be indexed in steps of 128 and all 32768 fit in 512 entries. Entries
// 256 and 257 would stand for d < 256 and are never read.

struct code_maps {
  std::array<uint8_t, 256> len_to_code{};
  std::array<int, length_codes> len_base{};  // smallest length - 3 per code
  std::array<uint8_t, 512> dist_to_code{};
  std::array<int, dist_symbols> dist_base{};  // smallest distance - 1 per code
};

constexpr code_maps make_code_maps() {
  code_maps maps;
  int v = 0;
  for (int c = 0; c < length_codes - 1; ++c) {
    maps.len_base[c] = v;
    for (int n = 0; n < (1 << len_extra_bits[c]); ++n) {
      maps.len_to_code[v++] = static_cast<uint8_t>(c);
    }
  }
  // Length 258 could be code 284 with extra value 31; deflate gives it 285,
  // which stands for 258 alone.
  maps.len_to_code[255] = length_codes - 1;
  maps.len_base[length_codes - 1] = 255;

  v = 0;
  for (int c = 0; c < 16; ++c) {
    maps.dist_base[c] = v;
    for (int n = 0; n < (1 << dist_extra_bits[c]); ++n) {
      maps.dist_to_code[v++] = static_cast<uint8_t>(c);
    }
  }
  v >>= 7;
  for (int c = 16; c < dist_symbols; ++c) {
    maps.dist_base[c] = v << 7;
    for (int n = 0; n < (1 << (dist_extra_bits[c] - 7)); ++n) {
      maps.dist_to_code[256 + v++] = static_cast<uint8_t>(c);
    }
  }
  return maps;
}

inline constexpr code_maps maps = make_code_maps();
inline constexpr const std::array<uint8_t, 256>& len_to_code = maps.len_to_code;
inline constexpr const std::array<int, length_codes>& len_base = maps.len_base;
inline constexpr const std::array<uint8_t, 512>& dist_to_code = maps.dist_to_code;
inline constexpr const std::array<int, dist_symbols>& dist_base = maps.dist_base;

static_assert(len_to_code[0] == 0 && len_to_code[254] == 27 && len_to_code[255] == 28);
static_assert(dist_to_code[511] == 29 && dist_base[29] == 24576);

// The distance code of a match at distance d + 1.
inline uint32_t distance_code(uint32_t d) {
  return d < 256 ? dist_to_code[d] : dist_to_code[256 + (d >> 7)];
}

// --- Canonical codes --------------------------------------------------------
//
// The first code of each length follows from the counts of the shorter
// lengths, and symbols of one length take consecutive codes in increasing
// symbol order, so a decoder rebuilds the code from the lengths alone.

// Gives every entry 0..last with a nonzero length in parent_or_len its
// canonical code, bit-reversed, in freq_or_code. length_counts holds how
// many entries have each length.
constexpr void assign_codes(code_entry* tree, int last, const uint16_t* length_counts) {
  uint16_t code_cursor[max_code_bits + 1]{};
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

// --- Fixed codes ------------------------------------------------------------
//
// Deflate's fixed literal/length code (lengths 8, 9, 7, 8 over the ranges
// below; 286 and 287 are never sent but take part, so the code is
// deflate's) and its fixed distance code (5 bits each), built at compile
// time by the same canonical rule.

struct fixed_code_tables {
  std::array<code_entry, fixed_lit_symbols> lit{};
  std::array<code_entry, dist_symbols> dist{};
};

constexpr fixed_code_tables make_fixed_codes() {
  fixed_code_tables fixed;
  uint16_t counts[max_code_bits + 1]{};
  auto give = [&](int from, int to, uint16_t bits) {
    for (int n = from; n <= to; ++n) fixed.lit[n].parent_or_len = bits;
    counts[bits] = static_cast<uint16_t>(counts[bits] + (to - from + 1));
  };
  give(0, 143, 8);
  give(144, 255, 9);
  give(256, 279, 7);
  give(280, 287, 8);
  assign_codes(fixed.lit.data(), fixed_lit_symbols - 1, counts);
  for (int n = 0; n < dist_symbols; ++n) {
    fixed.dist[n].parent_or_len = 5;
    fixed.dist[n].freq_or_code = static_cast<uint16_t>(reverse_bits(static_cast<uint32_t>(n), 5));
  }
  return fixed;
}

inline constexpr fixed_code_tables fixed_codes = make_fixed_codes();
inline constexpr const code_entry* fixed_lit_tree = fixed_codes.lit.data();
inline constexpr const code_entry* fixed_dist_tree = fixed_codes.dist.data();

// Symbol 0 has the first 8-bit code, 00110000, sent reversed.
static_assert(fixed_codes.lit[0].freq_or_code == 0x0C && fixed_codes.lit[256].parent_or_len == 7);

}  // namespace pelk
