// SPDX-License-Identifier: MIT
// The inflater's hot loop: decodes the symbols of one Huffman block at full
// speed, as long as the input buffer and the output window both have room
// for a whole step, so that it checks no bounds per symbol. inflate.cpp
// calls it and does everything near the ends of the buffers itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/deflate_format.h"
#include "inflate/inflate_inline.h"

namespace pelk {

struct fast_state {
  uint64_t bits;
  uint32_t bit_count;  // on return only its low six bits count
  const uint8_t* in;
  uint8_t* out;
};

enum class fast_exit : uint8_t { limit, block_end, bad_litlen, bad_distance, bad_reach };

// Input the loop may need past in_limit, and output room past out_limit.
inline constexpr size_t fast_in_margin = 16;  // two 8-byte refills per step
// Two literals, a longest match and what its copy may write past it.
inline constexpr size_t fast_out_margin = 2 + max_match + copy_overshoot;

// Decodes symbols until the block ends, a code is invalid or a distance
// reaches before out_start, or `in` passes in_limit or `out` reaches
// out_limit (checked once per match or three literals).
using fast_loop_function = fast_exit (*)(fast_state& state, const uint8_t* in_limit, uint8_t* out_limit,
                                         const uint8_t* out_start, const uint32_t* litlen, const uint32_t* dist);

// The loop in the form that uses the processor's bit-manipulation
// instructions where it has them, or the portable one regardless.
fast_loop_function choose_fast_loop(bool portable);

}  // namespace pelk
