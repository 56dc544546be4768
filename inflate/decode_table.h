// SPDX-License-Identifier: MIT
// Huffman decoding tables for the inflater: one concern, turning a list of
// code lengths into a table that decodes a symbol with one or two lookups.
//
// Algorithm. The stream sends codes most significant bit first inside a bit
// buffer that is filled least significant bit first, so the next code sits
// bit-reversed in the low bits of the buffer. A table of 2^main_bits entries
// is indexed by those low bits directly: a code of length L <= main_bits
// fills every entry whose low L bits equal its reversed code. A longer code
// shares its first main_bits bits with its neighbours (canonical codes with
// a common prefix are consecutive), and that prefix's entry links to a
// subtable indexed by the bits after the prefix, just large enough for the
// longest code below it.
//
// Entry layout, 32 bits:
//
//    31           16  15  14  13  12  11  8  7  6  5      0
//   +---------------+---+---+---+---+------+------+--------+
//   |     value     |inv|eob|lnk|lit| code | zero |  drop  |
//   +---------------+---+---+---+---+------+------+--------+
//
//   drop   bits to remove from the buffer: the code's length plus its extra
//          bits (a link: main_bits)
//   code   the code's length alone, where its extra bits begin (a link: the
//          subtable's index bits)
//   flags  literal, link to a subtable, end of block, invalid (no code of
//          an incomplete code, or a symbol the format forbids)
//   value  the literal byte, the base length or distance, the code-length
//          symbol, or the subtable's first index
//
// The decoder's hot path extracts everything with shifts and masks, and the
// drop field alone is a legal shift count, so `bits >>= entry & 63` works.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/deflate_format.h"

namespace pelk {

inline constexpr uint32_t drop_mask = 0x3F;
inline constexpr uint32_t literal_flag = 1u << 12;
inline constexpr uint32_t link_flag = 1u << 13;
inline constexpr uint32_t end_of_block_flag = 1u << 14;
inline constexpr uint32_t invalid_flag = 1u << 15;

inline constexpr int litlen_main_bits = 11;
inline constexpr int dist_main_bits = 8;
inline constexpr int clen_main_bits = max_clen_code_bits;  // never needs a subtable

// Symbols a table may be asked to hold: all 288 of the fixed literal/length
// code and all 32 that a five-bit distance count can announce; the last two
// of each are forbidden and decode as invalid.
inline constexpr int litlen_table_symbols = fixed_lit_symbols;
inline constexpr int dist_table_symbols = 32;

// Worst case: every code longer than main_bits gets its own subtable of the
// largest size, 2^(15 - main_bits).
inline constexpr size_t litlen_table_size =
    (size_t{1} << litlen_main_bits) + litlen_table_symbols * (size_t{1} << (max_code_bits - litlen_main_bits));
inline constexpr size_t dist_table_size =
    (size_t{1} << dist_main_bits) + dist_table_symbols * (size_t{1} << (max_code_bits - dist_main_bits));
inline constexpr size_t clen_table_size = size_t{1} << clen_main_bits;

// What each symbol decodes to, before its code length is known: value,
// flags and the count of extra bits in the drop field.
constexpr uint32_t symbol_info(uint32_t value, uint32_t flags, uint32_t extra_bits) {
  return value << 16 | flags | extra_bits;
}

inline constexpr std::array<uint32_t, litlen_table_symbols> litlen_symbol_info = [] {
  std::array<uint32_t, litlen_table_symbols> info{};
  for (uint32_t sym = 0; sym < uint32_t{literal_count}; ++sym) info[sym] = symbol_info(sym, literal_flag, 0);
  info[end_of_block] = symbol_info(0, end_of_block_flag, 0);
  // Lengths 3-10 one apiece, then four codes per count of extra bits (1-5),
  // each base one past the previous code's range; the last code means 258.
  uint32_t base = min_match;
  for (int i = 0; i < length_codes - 1; ++i) {
    const uint32_t extra = i < 8 ? 0 : static_cast<uint32_t>(i - 4) / 4;
    info[literal_count + 1 + i] = symbol_info(base, 0, extra);
    base += 1u << extra;
  }
  info[literal_count + length_codes] = symbol_info(max_match, 0, 0);
  for (int sym = lit_symbols; sym < litlen_table_symbols; ++sym) info[sym] = invalid_flag;
  return info;
}();

inline constexpr std::array<uint32_t, dist_table_symbols> dist_symbol_info = [] {
  std::array<uint32_t, dist_table_symbols> info{};
  uint32_t base = 1;
  for (int sym = 0; sym < dist_symbols; ++sym) {
    const uint32_t extra = sym < 4 ? 0 : static_cast<uint32_t>(sym) / 2 - 1;
    info[sym] = symbol_info(base, 0, extra);
    base += 1u << extra;
  }
  for (int sym = dist_symbols; sym < dist_table_symbols; ++sym) info[sym] = invalid_flag;
  return info;
}();

inline constexpr std::array<uint32_t, clen_symbols> clen_symbol_info = [] {
  std::array<uint32_t, clen_symbols> info{};
  for (uint32_t sym = 0; sym < uint32_t{clen_symbols}; ++sym) info[sym] = symbol_info(sym, 0, 0);
  return info;
}();

// RFC 1951's length and distance tables, checked at a few points.
static_assert(litlen_symbol_info[265] == symbol_info(11, 0, 1));
static_assert(litlen_symbol_info[272] == symbol_info(31, 0, 2));
static_assert(litlen_symbol_info[284] == symbol_info(227, 0, 5));
static_assert(litlen_symbol_info[285] == symbol_info(258, 0, 0));
static_assert(dist_symbol_info[4] == symbol_info(5, 0, 1));
static_assert(dist_symbol_info[17] == symbol_info(385, 0, 7));
static_assert(dist_symbol_info[29] == symbol_info(24577, 0, 13));

// Fills table (of the matching *_table_size) for the code whose lengths
// (0 = unused, at most 15) are given for symbols 0..count-1. Returns false
// when the lengths over-subscribe the code space or leave part of it
// unused, except for the two incomplete codes deflate allows: a single code
// of one bit, and no code at all. Their missing codes decode as invalid.
bool build_decode_table(uint32_t* table, int main_bits, const uint8_t* lengths, int count,
                        const uint32_t* info);

}  // namespace pelk
