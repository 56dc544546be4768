// SPDX-License-Identifier: MIT
// Small pieces shared by the inflater's careful path (inflate.cpp) and its
// hot loop (fast_loop.cpp): reading the bit buffer, values from decoding
// table entries, and copying matches. All inline, since they sit in the
// innermost loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/byte_order.h"
#include "inflate/decode_table.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define PELK_X86_BMI2 1
#else
#define PELK_X86_BMI2 0
#endif

namespace pelk {

inline constexpr size_t copy_overshoot = 31;  // bytes copy_match may write past a match

inline void copy8(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }

inline uint64_t low_bits(uint64_t value, uint32_t count) {
  return value & ((uint64_t{1} << count) - 1);
}

// A length's or distance's value: its base plus the extra bits that follow
// the code, taken from the buffer as it was before the entry was dropped.
// With BMI2 the low bits are cut off in one instruction (bzhi), which the
// compiler does not find by itself; written as assembly because the
// intrinsic may only be inlined into code compiled for BMI2 as a whole.
template <bool bmi2 = false>
inline uint32_t entry_value(uint32_t entry, uint64_t bits_before) {
  uint64_t code_and_extra;
#if PELK_X86_BMI2
  if constexpr (bmi2) {
    asm("bzhi %2, %1, %0" : "=r"(code_and_extra) : "r"(bits_before), "r"(uint64_t{entry}));
  } else
#endif
  {
    code_and_extra = low_bits(bits_before, entry & drop_mask);
  }
  return (entry >> 16) + static_cast<uint32_t>(code_and_extra >> ((entry >> 8) & 63));
}

inline const uint32_t& subtable_entry(const uint32_t* table, uint32_t link, uint64_t bits) {
  return table[(link >> 16) + low_bits(bits, (link >> 8) & 0xF)];
}

// Copies a match of `length` bytes from `distance` bytes back. May write up
// to copy_overshoot bytes past the match's end.
inline void copy_match(uint8_t* out, uint32_t distance, uint32_t length) {
  uint8_t* const end = out + length;
  const uint8_t* from = out - distance;
  if (distance >= 16) [[likely]] {
    // The first 16 bytes alone first: most matches are shorter, and a second
    // load right away would, for distances below 32, read bytes still in
    // flight from the first store, which stalls the processor.
    std::memcpy(out, from, 16);
    for (out += 16, from += 16; out < end; out += 32, from += 32) {
      std::memcpy(out, from, 16);
      std::memcpy(out + 16, from + 16, 16);
    }
  } else if (distance >= 8) {
    // Each 8-byte read lies wholly behind the write before it, so overlap
    // repeats the pattern as deflate requires.
    for (; out < end; out += 8, from += 8) copy8(out, from);
  } else if (distance == 1) {
    const uint64_t run = uint64_t{*from} * 0x0101010101010101u;
    for (; out < end; out += 8) std::memcpy(out, &run, 8);
  } else {
    do *out++ = *from++;
    while (out < end);
  }
}

}  // namespace pelk
