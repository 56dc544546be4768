// SPDX-License-Identifier: MIT
// Byte comparisons shared by the two ways of searching the window: the
// length of a match, eight bytes per step.
#pragma once

#include <bit>
#include <cstdint>

#include "common/byte_order.h"
#include "engine/format.h"

namespace pelk {

// Words are read little-endian on every processor, so byte k of the string
// is always bits 8k..8k+7: the lowest differing bit names the first
// differing byte, and a mask of low bits selects the first bytes. Read in
// native order, a big-endian processor would find the last differing byte
// and test the wrong end of each word.
inline uint64_t load_word(const uint8_t* p) { return load_le64(p); }

// The number of equal leading bytes of a and b, given that the first three
// agree, capped at max_match. Offsets 3..258 take 32 steps of eight bytes; no
// byte past offset 258 is read.
inline uint32_t count_match(const uint8_t* a, const uint8_t* b) {
  static_assert((max_match + 1 - min_match) % 8 == 0);
  for (uint32_t len = min_match; len <= max_match; len += 8) {
    const uint64_t diff = load_word(a + len) ^ load_word(b + len);
    if (diff != 0) {
      const uint32_t equal_bytes = static_cast<uint32_t>(std::countr_zero(diff)) / 8;
      const uint32_t length = len + equal_bytes;
      return length < max_match ? length : max_match;
    }
  }
  return max_match;
}

// The quick test of a candidate against the scan position, aimed at the
// best length so far: a candidate can beat `length` only if its bytes
// 0..length all agree with the scan position's. While length < 8 the first
// eight bytes, masked, cover them all (one load); beyond, the first eight
// and the eight ending at offset `length` are tested. Testing only bytes a
// longer match must have cannot turn a result away, and the tighter the
// test, the rarer a wrong guess.
struct quick_test {
  uint64_t tail = 0;         // the scan position's eight bytes at tail_offset
  uint64_t wanted = 0;       // which bytes of the first word must agree
  uint32_t tail_offset = 0;  // 0 while the first word covers everything

  void aim_at(const uint8_t* scan, uint32_t length) {
    // The first length + 1 bytes of a word, from a table: a shift by a
    // count that varies took about five more instructions, and there are two
    // aims per search.
    static constexpr uint64_t first_bytes[8] = {
        0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF, 0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF, ~uint64_t{0},
    };
    const bool short_match = length < 8;
    wanted = short_match ? first_bytes[length] : ~uint64_t{0};
    tail_offset = short_match ? 0 : length - 7;
    tail = load_word(scan + tail_offset);
  }
};

// Prefetching is a hint; a compiler without it just waits for the load.
inline void prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

}  // namespace pelk
