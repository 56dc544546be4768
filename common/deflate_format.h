// SPDX-License-Identifier: MIT
// The numbers of the deflate format (RFC 1951), each stated once, for the
// compressor and the inflater alike.
#pragma once

#include <cstdint>

namespace pelk {

// --- Matches ----------------------------------------------------------------
inline constexpr uint32_t min_match = 3;    // shortest string deflate can copy
inline constexpr uint32_t max_match = 258;  // longest string one match copies

// --- Alphabets --------------------------------------------------------------
inline constexpr int literal_count = 256;
inline constexpr int end_of_block = 256;
inline constexpr int length_codes = 29;
inline constexpr int lit_symbols = literal_count + 1 + length_codes;  // 286 sent
inline constexpr int fixed_lit_symbols = 288;  // the fixed code also defines 286, 287
inline constexpr int dist_symbols = 30;
inline constexpr int clen_symbols = 19;
inline constexpr int max_code_bits = 15;      // literal/length and distance codes
inline constexpr int max_clen_code_bits = 7;  // code-length code: 3-bit fields

// Code-length alphabet: repeat codes
inline constexpr int repeat_previous = 16;    // previous length 3-6 times
inline constexpr int repeat_zero_short = 17;  // zero 3-10 times
inline constexpr int repeat_zero_long = 18;   // zero 11-138 times

// The order in which the code-length code's own lengths are sent: the
// likeliest to be used first, so trailing unused ones can be left off.
inline constexpr uint8_t clen_order[clen_symbols] = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// --- Blocks -----------------------------------------------------------------
inline constexpr int block_stored = 0;
inline constexpr int block_fixed = 1;
inline constexpr int block_dynamic = 2;

}  // namespace pelk
